package app;

/** A single-instance program whose hand-over has no answer (the void form). */
public class SingleVoid {
    public static void main(String[] args) throws Exception {
        SingleLog.main(args);
    }

    public static void secondaryMain(String[] args) {
        SingleLog.record("secondary", args);
    }
}
