package net.tolvane.demo;

import java.awt.BorderLayout;
import java.awt.Font;
import java.awt.GraphicsEnvironment;
import javax.swing.BorderFactory;
import javax.swing.JFrame;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;

/**
 * The launcher's small window. Kept apart from Launcher so that a runtime without the desktop
 * module only fails when a window is actually wanted.
 */
final class Window {
    private Window() {}

    static boolean displayAvailable() {
        if (!ModuleLayer.boot().findModule("java.desktop").isPresent()) {
            return false;
        }
        try {
            return !GraphicsEnvironment.isHeadless();
        } catch (Throwable e) {
            return false;
        }
    }

    static void show(String text, long millis) throws Exception {
        JFrame[] frame = new JFrame[1];
        SwingUtilities.invokeAndWait(() -> {
            JTextArea area = new JTextArea(text);
            area.setEditable(false);
            area.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 13));
            area.setBorder(BorderFactory.createEmptyBorder(12, 12, 12, 12));
            frame[0] = new JFrame("Tolvane demo launcher");
            frame[0].setDefaultCloseOperation(JFrame.DISPOSE_ON_CLOSE);
            frame[0].getContentPane().add(area, BorderLayout.CENTER);
            frame[0].pack();
            frame[0].setLocationRelativeTo(null);
            frame[0].setVisible(true);
        });
        Thread.sleep(millis);
        SwingUtilities.invokeAndWait(() -> frame[0].dispose());
    }
}
