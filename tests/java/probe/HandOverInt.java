package probe;

/** A single-instance application whose secondaryMain answers: 7, or it throws when asked to. */
public class HandOverInt {
    public static void main(String[] args) throws Exception {
        HandOverLog.runMain(args);
    }

    public static int secondaryMain(String[] args) {
        HandOverLog.handOver("int", args);
        if (args.length > 0 && args[0].equals("throw")) throw new IllegalStateException("thrown by secondaryMain");
        return 7;
    }
}
