import java.time.Instant;

/** The benchmark's trivial program: its first line tells when main began, in microseconds since the epoch. */
public class Trivial {
    public static void main(String[] args) {
        Instant now = Instant.now();
        System.out.println("main " + (now.getEpochSecond() * 1000000L + now.getNano() / 1000));
    }
}
