package cds;
// Version 2 of an application whose class-data archive the launcher keeps.
public final class Main {
    public static void main(String[] args) {
        System.out.println("version 2");
        System.exit(args.length > 0 ? Integer.parseInt(args[0]) : 0);
    }
}
