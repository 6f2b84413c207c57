package app;

import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * The program the Linux launcher's end-to-end tests start. Each argument of
 * the form "command:value" asks for one thing; every other argument is only
 * printed.
 */
public class Probe {
    static Object held;

    public static void main(String[] args) throws Exception {
        StringBuilder line = new StringBuilder("main");
        for (String a : args) line.append(" [").append(a).append(']');
        System.out.println(line);
        System.out.flush();
        for (String a : args) {
            int colon = a.indexOf(':');
            String command = colon < 0 ? a : a.substring(0, colon);
            String value = colon < 0 ? "" : a.substring(colon + 1);
            switch (command) {
                case "property":
                    System.out.println(value + "=" + System.getProperty(value));
                    break;
                case "env":
                    System.out.println(value + "=" + System.getenv(value));
                    break;
                case "stderr":
                    System.err.println(value);
                    break;
                case "exit":
                    System.exit(Integer.parseInt(value));
                    break;
                case "heap":
                    System.out.println("heap " + Runtime.getRuntime().maxMemory() / (1024 * 1024) + "m");
                    break;
                case "vmoptions": {
                    // The user's options file, as a program's settings screen writes it.
                    java.nio.file.Path file = Paths.get(System.getProperty("veda.launcher.vmoptions"));
                    Files.createDirectories(file.getParent());
                    Files.write(file, (value + "\n").getBytes("UTF-8"));
                    break;
                }
                case "restartonce": {
                    // "<file>:<code>": the first run makes the file and asks for a restart.
                    int split = value.lastIndexOf(':');
                    java.nio.file.Path marker = Paths.get(value.substring(0, split));
                    if (!Files.exists(marker)) {
                        Files.write(marker, new byte[0]);
                        System.exit(Integer.parseInt(value.substring(split + 1)));
                    }
                    break;
                }
                case "throw":
                    // "\\0" stands for a NUL, which no argument can hold.
                    throw new IllegalStateException("thrown by main: " + value.replace("\\0", "\0"));
                case "listen": {
                    // A listening socket the program holds open; its port in the file.
                    java.net.ServerSocket server = new java.net.ServerSocket(0);
                    Files.write(Paths.get(value), Integer.toString(server.getLocalPort()).getBytes("UTF-8"));
                    held = server;
                    break;
                }
                case "exitwhen": {
                    // Ends the program from another thread once the file exists.
                    final String file = value;
                    Thread t = new Thread(() -> {
                        while (!Files.exists(Paths.get(file))) {
                            try {
                                Thread.sleep(20);
                            } catch (InterruptedException e) {
                                return;
                            }
                        }
                        System.exit(3);
                    });
                    t.setDaemon(true);
                    t.start();
                    break;
                }
                case "hook": {
                    // Writes the file when the runtime shuts down (a signal, System.exit).
                    final String file = value;
                    Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                        try {
                            Files.write(Paths.get(file), "hook ran\n".getBytes("UTF-8"));
                        } catch (Exception e) {
                            throw new RuntimeException(e);
                        }
                    }));
                    break;
                }
                case "opens":
                    // Whether java.base opens the package to this program.
                    System.out.println("opens " + value + " " + Object.class.getModule()
                            .isOpen(value, Probe.class.getModule()));
                    break;
                case "splashurl": {
                    java.awt.SplashScreen splash = java.awt.SplashScreen.getSplashScreen();
                    System.out.println("splash " + (splash == null ? null : splash.getImageURL()));
                    break;
                }
                case "ready":
                    // Tells the test that main runs, by a file.
                    Files.write(Paths.get(value), "ready\n".getBytes("UTF-8"));
                    break;
                case "wait":
                    // A non-daemon thread that keeps the program alive.
                    final long millis = Long.parseLong(value);
                    Thread t = new Thread(() -> {
                        try {
                            Thread.sleep(millis);
                        } catch (InterruptedException e) {
                        }
                        System.out.println("waited");
                    });
                    t.start();
                    break;
                case "child": {
                    // Process.waitFor needs SIGCHLD as the runtime set it.
                    Process p = new ProcessBuilder("sh", "-c", "exit " + value).start();
                    System.out.println("child exit " + p.waitFor());
                    break;
                }
                case "laf":
                    // The runtime's own GTK look and feel, in this process.
                    javax.swing.UIManager.setLookAndFeel("com.sun.java.swing.plaf.gtk.GTKLookAndFeel");
                    System.out.println("look and feel " + javax.swing.UIManager.getLookAndFeel().getName());
                    break;
                case "waitfile": {
                    // Waits (bounded) until the test has looked at the screen.
                    long deadline = System.currentTimeMillis() + 30000;
                    while (!Files.exists(Paths.get(value)) && System.currentTimeMillis() < deadline) Thread.sleep(20);
                    break;
                }
                default:
                    break;
            }
        }
    }
}
