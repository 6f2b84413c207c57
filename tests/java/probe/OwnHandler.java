package probe;

import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/** Installs its own uncaught-exception handler, which writes to probe.out, then throws. */
public class OwnHandler {
    public static void main(String[] args) {
        Thread.setDefaultUncaughtExceptionHandler((thread, error) -> {
            String text = "handled " + error.getMessage() + " on " + thread.getName();
            try (FileOutputStream out = new FileOutputStream(System.getProperty("probe.out"))) {
                out.write(text.getBytes(StandardCharsets.UTF_8));
            } catch (IOException e) {
                throw new RuntimeException(e);
            }
        });
        throw new IllegalStateException("for the program's handler");
    }
}
