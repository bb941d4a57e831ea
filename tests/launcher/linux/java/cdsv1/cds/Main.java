package cds;
// Version 1 of an application whose class-data archive the launcher keeps.
public final class Main {
    public static void main(String[] args) {
        System.out.println("version 1");
        System.exit(args.length > 0 ? Integer.parseInt(args[0]) : 0);
    }
}
