package probe;

import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/** Writes its arguments, one per line with their UTF-16 lengths, to the file named by probe.out. */
public class Recorder {
    public static void main(String[] args) throws IOException {
        StringBuilder text = new StringBuilder();
        text.append("count=").append(args.length).append('\n');
        for (String arg : args) {
            text.append(arg.length()).append(':').append(arg).append('\n');
        }
        text.append("thread=").append(Thread.currentThread().getName()).append('\n');
        try (FileOutputStream out = new FileOutputStream(System.getProperty("probe.out"))) {
            out.write(text.toString().getBytes(StandardCharsets.UTF_8));
        }
    }
}
