package fx;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;

import javafx.application.Application;
import javafx.application.Platform;
import javafx.scene.Scene;
import javafx.scene.control.Label;
import javafx.stage.Stage;

/**
 * A JavaFX program on the class path, started as users start theirs: a main
 * method that launches the application. Arguments: the file to write
 * "shown <working directory>" to once the window is shown, and the file
 * whose appearance closes it (after at most a minute it closes anyway).
 */
public class FxProbe extends Application {
    public static void main(String[] args) {
        launch(args);
    }

    @Override
    public void start(Stage stage) {
        Path report = Paths.get(getParameters().getRaw().get(0));
        Path close = Paths.get(getParameters().getRaw().get(1));
        stage.setTitle("fx probe");
        stage.setScene(new Scene(new Label("JavaFX through the launcher"), 320, 120));
        stage.setOnShown(e -> {
            try {
                // Written whole, then renamed: the reader never sees half a line.
                Path part = Paths.get(report + ".part");
                Files.write(part, ("shown " + System.getProperty("user.dir") + "\n").getBytes("UTF-8"));
                Files.move(part, report, StandardCopyOption.ATOMIC_MOVE);
            } catch (Exception failed) {
                failed.printStackTrace();
                Platform.exit();
            }
        });
        stage.show();
        Thread closer = new Thread(() -> {
            long deadline = System.nanoTime() + 60_000_000_000L;
            while (!Files.exists(close) && System.nanoTime() < deadline) {
                try {
                    Thread.sleep(20);
                } catch (InterruptedException stop) {
                    break;
                }
            }
            Platform.exit();
        });
        closer.setDaemon(true);
        closer.start();
    }
}
