package cds;

// Version 1 of an application whose class-data archive the launcher keeps.
public final class Main {
    public static void main(String[] args) {
        System.out.println("version 1");
        if (args.length > 0) {
            System.exit(Integer.parseInt(args[0]));
        }
    }
}
