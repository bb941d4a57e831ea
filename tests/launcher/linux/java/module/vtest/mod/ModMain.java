package vtest.mod;

// The main class of a named module, started with "-m vtest.mod/vtest.mod.ModMain".
public final class ModMain {
    public static void main(String[] args) {
        System.out.println("module=" + ModMain.class.getModule().getName());
        System.out.println("args=" + String.join("|", args));
    }
}
