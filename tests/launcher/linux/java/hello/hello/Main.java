package hello;

// The sample application of the demo and the benchmark.
public final class Main {
    public static void main(String[] args) {
        System.out.println("Hello from Java " + System.getProperty("java.version") + " in process "
                + ProcessHandle.current().pid());
        System.out.println("launched by " + System.getProperty("vantrel.app-path"));
        System.out.println("greeting: " + System.getProperty("greeting", "(none)"));
        for (String arg : args) {
            System.out.println("argument: " + arg);
        }
    }
}
