package probe;

import java.io.ByteArrayOutputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

/**
 * Lets an exception with a cause and a non-ASCII message escape main, after
 * writing its own printed stack trace (UTF-8) to the file named by probe.out.
 */
public class CausedThrower {
    static void inner() {
        throw new IllegalArgumentException("inner cause \u00fc");
    }

    static void middle() {
        try {
            inner();
        } catch (IllegalArgumentException e) {
            throw new IllegalStateException("\u00dcn\u00efc\u00f8d\u00e9 \u65e5\u672c \ud83d\ude00 failure", e);
        }
    }

    public static void main(String[] args) throws IOException {
        RuntimeException escaping;
        try {
            middle();
            return;
        } catch (RuntimeException e) {
            escaping = e;
        }
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        escaping.printStackTrace(new PrintStream(bytes, true, "UTF-8"));
        try (FileOutputStream out = new FileOutputStream(System.getProperty("probe.out"))) {
            out.write(bytes.toByteArray());
        }
        throw escaping;
    }
}
