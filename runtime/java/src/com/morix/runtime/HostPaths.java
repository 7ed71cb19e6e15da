package com.morix.runtime;

import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Locale;

/**
 * Turns the path texts that the launcher hands over (its own path, redirection files) into paths of the
 * running Java platform. On Windows they are used as they are. A Java runtime that runs outside Windows
 * behind a Windows launcher (the project's test bridge runs the Linux JDK inside Wine) sets the system
 * property {@value #DRIVES_PROPERTY} to a directory holding one entry per drive ("c:", "z:", ...); the
 * launcher's Windows paths are then resolved through it.
 */
public final class HostPaths {
    static final String DRIVES_PROPERTY = "morix.windowsDrives";

    private HostPaths() {
    }

    /** The path of the running platform for a path text of the launcher. */
    public static Path get(String text) {
        String drives = System.getProperty(DRIVES_PROPERTY);
        if (drives == null || drives.isEmpty() || runsOnWindows()) {
            return Paths.get(text);
        }
        String path = text.replace('\\', '/');
        if (path.length() >= 2 && path.charAt(1) == ':' && isAsciiLetter(path.charAt(0))) {
            Path drive = Paths.get(drives, Character.toLowerCase(path.charAt(0)) + ":");
            String rest = path.substring(2);
            while (rest.startsWith("/")) {
                rest = rest.substring(1);
            }
            return rest.isEmpty() ? drive : drive.resolve(rest);
        }
        return Paths.get(path);
    }

    private static boolean runsOnWindows() {
        return System.getProperty("os.name", "").toLowerCase(Locale.ROOT).startsWith("windows");
    }

    private static boolean isAsciiLetter(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    }
}
