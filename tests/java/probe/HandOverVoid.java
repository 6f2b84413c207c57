package probe;

/** A single-instance application whose secondaryMain returns nothing. */
public class HandOverVoid {
    public static void main(String[] args) throws Exception {
        HandOverLog.runMain(args);
    }

    public static void secondaryMain(String[] args) {
        HandOverLog.handOver("void", args);
    }
}
