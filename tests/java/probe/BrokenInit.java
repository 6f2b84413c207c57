package probe;

/** A class whose static initialiser fails while it is being loaded for main. */
public class BrokenInit {
    static {
        if (true) {
            throw new RuntimeException("initialiser fails");
        }
    }

    public static void main(String[] args) {
    }
}
