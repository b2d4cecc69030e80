package net.tolvane.demo;

import java.io.IOException;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;

/**
 * A stand-in for the real game launcher: it reports that it started, from which jar, in which
 * folder and on which Java runtime, so a demo run or a test can see that the installer put
 * everything in place. It always ends by itself.
 */
public final class Launcher {
    private static final long WINDOW_MILLIS = 4000;

    private Launcher() {}

    public static void main(String[] args) {
        String report = report();
        System.out.print(report);
        System.out.flush();

        String marker = System.getenv("TOLVANE_DEMO_MARKER");
        int status = 0;
        if (marker != null && !marker.isEmpty()) {
            try {
                writeAtomically(Paths.get(marker), report);
            } catch (IOException e) {
                System.err.println("cannot write the marker file " + marker + ": " + e);
                status = 1;
            }
        }

        try {
            if (Window.displayAvailable()) {
                Window.show(report, WINDOW_MILLIS);
            }
        } catch (Throwable e) {
            // A missing desktop module or a display that went away only costs the window.
            System.err.println("no window: " + e);
        }
        // Swing keeps non-daemon threads alive; end explicitly.
        System.exit(status);
    }

    static String report() {
        StringBuilder text = new StringBuilder();
        text.append("Tolvane demo launcher started\n");
        text.append("jar: ").append(jarLocation()).append('\n');
        text.append("working folder: ")
                .append(Paths.get("").toAbsolutePath())
                .append('\n');
        text.append("java.home: ").append(System.getProperty("java.home")).append('\n');
        text.append("java.version: ").append(System.getProperty("java.version")).append('\n');
        return text.toString();
    }

    private static String jarLocation() {
        try {
            return Paths.get(Launcher.class.getProtectionDomain().getCodeSource().getLocation().toURI())
                    .toString();
        } catch (URISyntaxException | SecurityException | NullPointerException e) {
            return "unknown (" + e + ")";
        }
    }

    // Whoever waits for the marker must never read half of it.
    private static void writeAtomically(Path target, String text) throws IOException {
        Path folder = target.toAbsolutePath().getParent();
        Files.createDirectories(folder);
        Path temporary = Files.createTempFile(folder, ".marker", ".tmp");
        try {
            Files.write(temporary, text.getBytes(StandardCharsets.UTF_8));
            Files.move(temporary, target, StandardCopyOption.REPLACE_EXISTING,
                    StandardCopyOption.ATOMIC_MOVE);
        } finally {
            Files.deleteIfExists(temporary);
        }
    }
}
