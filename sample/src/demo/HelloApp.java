package demo;

import java.awt.BorderLayout;
import java.awt.GraphicsEnvironment;
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

    public static void main(String[] args) {
        String report = describe(args);
        System.out.println(report);
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
        return text.toString();
    }
}
