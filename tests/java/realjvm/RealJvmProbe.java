import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;

// Prints what the launcher handed to the JVM, one line each, in UTF-8 whatever the locale:
//   arg:[<argument>]         for each argument
//   app-path:[<the "vantrel.app-path" system property>]
//   env:[<the variable VANTREL_REALJVM_VAR>]
// Then an argument "exit=<n>" ends the JVM with System.exit(n), and "throw" leaves main with an
// exception.
public class RealJvmProbe {
    public static void main(String[] args) throws Exception {
        PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, "UTF-8");
        for (String arg : args) {
            out.print("arg:[" + arg + "]\n");
        }
        out.print("app-path:[" + System.getProperty("vantrel.app-path") + "]\n");
        out.print("env:[" + System.getenv("VANTREL_REALJVM_VAR") + "]\n");
        out.flush();
        for (String arg : args) {
            if (arg.startsWith("exit=")) {
                System.exit(Integer.parseInt(arg.substring("exit=".length())));
            }
            if (arg.equals("throw")) {
                throw new IllegalStateException("thrown by the probe");
            }
        }
    }
}
