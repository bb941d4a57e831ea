package vtest.logdep;

import java.util.logging.Logger;

// A dependency that only the main jar's manifest names, and that alone needs java.logging.
public final class Log {
    private Log() {}

    public static String loggerName(String name) {
        return Logger.getLogger(name).getName();
    }
}
