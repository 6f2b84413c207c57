package probe;

/** Ends the virtual machine with the status given as its first argument. */
public class Exiter {
    public static void main(String[] args) {
        System.exit(Integer.parseInt(args[0]));
    }
}
