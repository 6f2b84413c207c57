package demo;

import java.awt.BorderLayout;
import java.awt.GraphicsEnvironment;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import javax.swing.JFrame;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;
import javax.swing.WindowConstants;

/**
 * The sample application shipped with the launcher: it shows what it was
 * started with (arguments, runtime, class path and the variables the launcher
 * sets), in a window when there is a display and on standard output always.
 */
public final class HelloApp {
    private HelloApp() {
    }

    /** "Restart Exit Code" in HelloApp.ini: System.exit with it starts the program again. */
    static final int RESTART = 75;

    public static void main(String[] args) throws IOException {
        String report = describe(args);
        System.out.println(report);
        for (String arg : args) {
            if (arg.startsWith("--heap=") && setHeap(arg.substring("--heap=".length()))) {
                System.out.println("The user's options file now asks for -Xmx" + arg.substring(7) + "m: restarting.");
                System.exit(RESTART);
            }
        }
        if (GraphicsEnvironment.isHeadless()) {
            return;
        }
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("Hello from the launcher");
            JTextArea text = new JTextArea(report, 16, 60);
            text.setEditable(false);
            frame.add(new JScrollPane(text), BorderLayout.CENTER);
            frame.setDefaultCloseOperation(WindowConstants.DISPOSE_ON_CLOSE);
            frame.pack();
            frame.setLocationRelativeTo(null);
            frame.setVisible(true);
        });
    }

    /**
     * Single instance: with "Single Instance=yes" a later launch of HelloApp.exe
     * hands its arguments here, to the running application, and exits with the
     * value returned: here the number of arguments received.
     */
    public static int secondaryMain(String[] args) {
        System.out.println("Handed over by a later launch: " + String.join(" | ", args));
        return args.length;
    }

    /**
     * Writes the maximum heap into the user's options file, as a settings
     * screen would: the launcher names the file in veda.launcher.vmoptions
     * (it need not exist yet). False when the file says so already.
     */
    static boolean setHeap(String megabytes) throws IOException {
        Path file = Paths.get(System.getProperty("veda.launcher.vmoptions"));
        String wanted = "-Xmx" + megabytes + "m";
        List<String> lines = new ArrayList<>();
        if (Files.exists(file)) {
            for (String line : Files.readAllLines(file, StandardCharsets.UTF_8)) {
                if (line.trim().equals(wanted)) {
                    return false;
                }
                if (!line.trim().startsWith("-Xmx")) {
                    lines.add(line);
                }
            }
        }
        lines.add(wanted);
        Files.createDirectories(file.getParent());
        Files.write(file, lines, StandardCharsets.UTF_8);
        return true;
    }

    static String describe(String[] args) {
        StringBuilder text = new StringBuilder();
        text.append("Arguments (").append(args.length).append("):\n");
        for (String arg : args) {
            text.append("  [").append(arg).append("]\n");
        }
        text.append("Runtime: ").append(System.getProperty("java.version"))
            .append(" from ").append(System.getProperty("java.home")).append('\n');
        text.append("Class path: ").append(System.getProperty("java.class.path")).append('\n');
        text.append("Maximum heap: ").append(Runtime.getRuntime().maxMemory() / (1024 * 1024)).append(" MB\n");
        text.append("VEDA_JVM_PATH: ").append(System.getenv("VEDA_JVM_PATH")).append('\n');
        text.append("VEDA_JVM_HOME: ").append(System.getenv("VEDA_JVM_HOME")).append('\n');
        text.append("Greeting: ").append(System.getProperty("hello.greeting", "(none)")).append('\n');
        text.append("User's options file: ").append(System.getProperty("veda.launcher.vmoptions")).append('\n');
        return text.toString();
    }
}
