package probe;

/** A main method that is not static. */
public class WrongMain {
    public void main(String[] args) {
    }
}
