package probe;

import java.io.PrintStream;

/** Lets an exception escape main whose stack trace cannot be printed. */
public class PrintFails {
    static class Unprintable extends RuntimeException {
        Unprintable() {
            super("unprintable");
        }

        @Override
        public void printStackTrace(PrintStream s) {
            throw new IllegalStateException("cannot print the trace");
        }
    }

    public static void main(String[] args) {
        throw new Unprintable();
    }
}
