package probe;

/** secondaryMain with the later launch's working directory, beside the old form. */
public class HandOverFolder {
    public static void main(String[] args) throws Exception {
        HandOverLog.runMain(args);
    }

    public static int secondaryMain(String[] args, String workingDirectory) {
        HandOverLog.handOver("folder " + workingDirectory, args);
        return 3;
    }

    public static int secondaryMain(String[] args) {
        HandOverLog.handOver("old", args);
        return 4;
    }
}
