package probe;

import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/** Shared record of the hand-over probes: what main and secondaryMain saw, written to probe.out when main ends. */
public class HandOverLog {
    private static final StringBuilder text = new StringBuilder();
    private static final CountDownLatch mainStarted = new CountDownLatch(1);
    private static final CountDownLatch released = new CountDownLatch(1);

    static synchronized void record(String line) {
        text.append(line).append('\n');
    }

    static String describe(String form, String[] args) {
        StringBuilder line = new StringBuilder(form).append(" count=").append(args.length);
        for (String arg : args) line.append(" [").append(arg).append(']');
        return line.append(" main=").append(Thread.currentThread().getName().equals("main")).toString();
    }

    /** Called by the second-instance methods: "release" lets main end. */
    static void handOver(String form, String[] args) {
        record(describe(form, args));
        if (args.length > 0 && args[0].equals("release")) released.countDown();
    }

    /** Main of every hand-over probe: waits, while running, until released. */
    static void runMain(String[] args) throws InterruptedException, IOException {
        record("main count=" + args.length);
        mainStarted.countDown();
        released.await(60, TimeUnit.SECONDS);
        String written;
        synchronized (HandOverLog.class) {
            written = text.toString();
        }
        try (FileOutputStream out = new FileOutputStream(System.getProperty("probe.out"))) {
            out.write(written.getBytes(StandardCharsets.UTF_8));
        }
    }

    /** For the test's own thread: returns once main is running. */
    public static void awaitMain() throws InterruptedException {
        mainStarted.await(60, TimeUnit.SECONDS);
    }
}
