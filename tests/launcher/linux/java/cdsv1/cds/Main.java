package cds;
public final class Main {
    public static void main(String[] args) throws Exception {
        // A class of its own loader, loaded but never linked: the runtime can't archive it.
        java.net.URL jar = Main.class.getProtectionDomain().getCodeSource().getLocation();
        new java.net.URLClassLoader(new java.net.URL[] {jar}, null).loadClass("cds.Main$Unlinked");
        System.out.println("version 1");
        if (args.length > 0 && args[0].equals("sleep")) {
            System.out.flush();
            Thread.sleep(60000); // until a signal ends it
        }
        System.exit(args.length > 0 && !args[0].equals("sleep") ? Integer.parseInt(args[0]) : 0);
    }
    static final class Unlinked {}
}
