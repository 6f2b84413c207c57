import java.awt.BorderLayout;
import java.awt.Graphics;
import java.awt.GridLayout;
import java.time.Instant;
import javax.swing.*;

/**
 * The benchmark's desktop program: a window with a few hundred components.
 * It prints when main began and when the window was first painted, in
 * microseconds since the epoch, then ends.
 */
public class SwingSample {
    static long now() {
        Instant t = Instant.now();
        return t.getEpochSecond() * 1000000L + t.getNano() / 1000;
    }

    public static void main(String[] args) throws Exception {
        System.out.println("main " + now());
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("Sample");
            JPanel grid = new JPanel(new GridLayout(0, 12, 2, 2)) {
                boolean painted;

                @Override
                public void paint(Graphics g) {
                    super.paint(g);
                    if (!painted) {
                        painted = true;
                        System.out.println("shown " + now());
                        System.out.flush();
                        SwingUtilities.invokeLater(() -> System.exit(0));
                    }
                }
            };
            String[] choices = {"one", "two", "three"};
            for (int i = 0; i < 60; i++) {
                grid.add(new JLabel("Label " + i));
                grid.add(new JTextField("field " + i, 6));
                grid.add(new JButton("Button " + i));
                grid.add(new JCheckBox("Check " + i, i % 2 == 0));
                grid.add(new JComboBox<>(choices));
            }
            JMenuBar bar = new JMenuBar();
            JMenu menu = new JMenu("File");
            menu.add(new JMenuItem("Open"));
            menu.add(new JMenuItem("Save"));
            bar.add(menu);
            frame.setJMenuBar(bar);
            frame.add(new JScrollPane(grid), BorderLayout.CENTER);
            frame.add(new JTable(20, 6), BorderLayout.SOUTH);
            frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
            frame.pack();
            frame.setVisible(true);
        });
    }
}
