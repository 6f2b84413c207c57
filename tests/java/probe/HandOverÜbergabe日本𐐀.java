package probe;

/** A main class whose name is beyond ASCII (日本 is beyond most ANSI code pages, and 𐐀 lies outside the basic plane, where modified UTF-8 differs from UTF-8). */
public class HandOverÜbergabe日本𐐀 {
    public static void main(String[] args) throws Exception {
        HandOverLog.runMain(args);
    }

    public static int secondaryMain(String[] args) {
        HandOverLog.handOver("int", args);
        return 7;
    }
}
