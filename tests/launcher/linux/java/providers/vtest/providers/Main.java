package vtest.providers;

import java.net.URI;
import java.nio.charset.Charset;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyPairGenerator;
import java.text.DateFormatSymbols;
import java.util.Locale;
import java.util.Map;

// What ordinary programs reach through service lookups, one line each: "name=result".
public final class Main {
    interface Check {
        String run() throws Exception;
    }

    static void check(String name, Check check) {
        String result;
        try {
            result = check.run();
        } catch (Throwable e) {
            result = e.getClass().getSimpleName();
        }
        System.out.println(name + "=" + result);
    }

    public static void main(String[] args) {
        check("logger", () -> vtest.logdep.Log.loggerName("vtest"));
        check("ec", () -> KeyPairGenerator.getInstance("EC").generateKeyPair().getPublic()
                .getAlgorithm());
        check("charset", () -> new String(new byte[] {(byte) 0x82, (byte) 0xa0},
                Charset.forName("Shift_JIS")).codePointAt(0) == 0x3042 ? "ok" : "wrong");
        check("locale", () -> DateFormatSymbols.getInstance(Locale.FRENCH).getWeekdays()[2]);
        check("zipfs", () -> {
            Path zip = Files.createTempFile("vtest", ".zip");
            Files.delete(zip);
            try (FileSystem fs = FileSystems.newFileSystem(URI.create("jar:" + zip.toUri()),
                    Map.of("create", "true"))) {
                return fs.provider().getScheme();
            } finally {
                Files.deleteIfExists(zip);
            }
        });
    }
}
