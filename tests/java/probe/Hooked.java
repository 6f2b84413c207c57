package probe;

import java.io.FileWriter;
import java.io.IOException;

/** Registers a shutdown hook that writes "hook ran" to the file of "probe.out", and returns. */
public class Hooked {
    public static void main(String[] args) {
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            try (FileWriter out = new FileWriter(System.getProperty("probe.out"))) {
                out.write("hook ran");
            } catch (IOException e) {
                throw new RuntimeException(e);
            }
        }));
    }
}
