package app;

/**
 * A single-instance program whose hand-over answers (the int form): the
 * number after "answer:", 0 without one; "halt:N" ends the program at once.
 */
public class SingleInt {
    // SINGLE_HOLD=FILE keeps main from starting until the file exists (at
    // most a minute): the class is initialised before main is called.
    static {
        String hold = System.getenv("SINGLE_HOLD");
        long deadline = System.currentTimeMillis() + 60_000;
        while (hold != null && !new java.io.File(hold).exists() && System.currentTimeMillis() < deadline) {
            try {
                Thread.sleep(20);
            } catch (InterruptedException e) {
                break;
            }
        }
    }

    public static void main(String[] args) throws Exception {
        SingleLog.main(args);
    }

    public static int secondaryMain(String[] args) {
        SingleLog.record("secondary", args);
        for (String a : args) {
            if (a.startsWith("answer:")) return Integer.parseInt(a.substring(7));
            if (a.startsWith("halt:")) Runtime.getRuntime().halt(Integer.parseInt(a.substring(5)));
        }
        return 0;
    }
}
