package probe;

/** Lets an exception escape main. */
public class Thrower {
    public static void main(String[] args) {
        throw new IllegalStateException("thrown by the probe");
    }
}
