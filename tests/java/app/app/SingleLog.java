package app;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;

/**
 * What the single-instance programs share: main records its arguments in the
 * log named by "log:FILE", says it runs by "ready:FILE" and keeps the program
 * alive until "stop:FILE" exists; every hand-over is recorded as one line.
 * "restart:FILE:CODE" ends the program with CODE once FILE exists, which it
 * removes, so that the program started again keeps running.
 */
final class SingleLog {
    private static Path log;

    private SingleLog() {
    }

    static void main(String[] args) throws Exception {
        Path ready = null;
        Path stop = null;
        String restart = null;
        for (String a : args) {
            if (a.startsWith("restart:")) restart = a.substring(8);
            if (a.startsWith("log:")) log = Paths.get(a.substring(4));
            if (a.startsWith("ready:")) ready = Paths.get(a.substring(6));
            if (a.startsWith("stop:")) stop = Paths.get(a.substring(5));
        }
        record("main", args);
        if (ready != null) Files.write(ready, "ready\n".getBytes(StandardCharsets.UTF_8));
        if (stop != null) {
            final Path file = stop;
            new Thread(() -> {
                long deadline = System.currentTimeMillis() + 120_000;
                while (!Files.exists(file) && System.currentTimeMillis() < deadline) {
                    try {
                        Thread.sleep(20);
                    } catch (InterruptedException e) {
                        return;
                    }
                }
            }).start();
        }
        if (restart != null) {
            int split = restart.lastIndexOf(':');
            final Path trigger = Paths.get(restart.substring(0, split));
            final int code = Integer.parseInt(restart.substring(split + 1));
            Thread watcher = new Thread(() -> {
                try {
                    while (!Files.deleteIfExists(trigger)) Thread.sleep(10);
                } catch (Exception e) {
                    return;
                }
                System.exit(code);
            });
            watcher.setDaemon(true);
            watcher.start();
        }
    }

    /** One line per call: the kind, the count, then each argument in brackets. */
    static synchronized void record(String kind, String[] args) {
        // A hand-over may come while main is still reading its arguments:
        // one that names the log itself uses it.
        Path target = log;
        for (String a : args) {
            if (a.startsWith("log:")) target = Paths.get(a.substring(4));
        }
        StringBuilder line = new StringBuilder(kind).append(' ').append(args.length);
        for (String a : args) line.append(" [").append(a).append(']');
        line.append('\n');
        try {
            Files.write(target, line.toString().getBytes(StandardCharsets.UTF_8), StandardOpenOption.CREATE,
                    StandardOpenOption.APPEND);
        } catch (Exception e) {
            throw new RuntimeException(e);
        }
    }
}
