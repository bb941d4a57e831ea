package vtest.probe;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.TreeSet;

// Writes what the JVM received, one "key=value" line each, in UTF-8 whatever the locale says;
// then fails as "vtest.throw" or ends with the exit code that "vtest.exit" asks for.
public final class Probe {
    public static void main(String[] args) throws IOException {
        PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, "UTF-8");
        out.println("started");
        out.println("argc=" + args.length);
        for (int i = 0; i < args.length; i++) {
            out.println("arg[" + i + "]=" + args[i]);
        }
        for (String name : new TreeSet<>(System.getProperties().stringPropertyNames())) {
            if (name.startsWith("vtest.") || name.startsWith("vantrel.")) {
                out.println("prop." + name + "=" + System.getProperty(name));
            }
        }
        out.println("env.LD_LIBRARY_PATH=" + System.getenv("LD_LIBRARY_PATH"));
        out.println("java.library.path=" + System.getProperty("java.library.path"));
        out.println("java.home=" + System.getProperty("java.home"));
        out.println("pid=" + ProcessHandle.current().pid());
        byte[] cmdline = Files.readAllBytes(Paths.get("/proc/self/cmdline"));
        out.println("cmdline=" + new String(cmdline, StandardCharsets.UTF_8).replace('\0', ' ').trim());
        String helper;
        try {
            helper = vtest.helper.Helper.where();
        } catch (NoClassDefFoundError e) {
            helper = "missing";
        }
        out.println("helper=" + helper);
        out.println("module=" + Probe.class.getModule().getName());
        out.flush();
        if (System.getProperty("vtest.throw") != null) {
            throw new IllegalStateException(System.getProperty("vtest.throw"));
        }
        String exit = System.getProperty("vtest.exit");
        if (exit != null) {
            System.exit(Integer.parseInt(exit));
        }
    }
}
