package probe;

import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * Prints a line on each standard stream and reads back, while still running,
 * what the files named by probe.outfile and probe.errfile hold at that moment.
 */
public class Printer {
    public static void main(String[] args) throws IOException {
        System.out.println("out line 1");
        String outSeen = read(System.getProperty("probe.outfile"));
        System.err.println("err line 1");
        String errSeen = read(System.getProperty("probe.errfile"));
        String text = "out-seen=" + outSeen + "|err-seen=" + errSeen;
        try (FileOutputStream out = new FileOutputStream(System.getProperty("probe.out"))) {
            out.write(text.getBytes(StandardCharsets.UTF_8));
        }
    }

    private static String read(String name) {
        try {
            return name == null ? "(none)" : new String(Files.readAllBytes(Paths.get(name)), StandardCharsets.UTF_8);
        } catch (IOException e) {
            return "(missing)";
        }
    }
}
