package com.morix.runtime;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * Sends System.out and System.err into the files that the launcher configured. A file that cannot be
 * opened leaves its stream as it was, with a warning on the original standard error: the application still
 * runs, and the warning names the file.
 */
final class OutputRedirection {
    // The error output as the launcher set it up, apart from whatever System.err the application installs.
    private static volatile FileDescriptor errorDescriptor = FileDescriptor.err;

    private OutputRedirection() {
    }

    /** The error file the launcher redirected standard error to, or the process's standard error. */
    static FileDescriptor errorDescriptor() {
        return errorDescriptor;
    }

    /**
     * @param launcherDirectory the directory that relative file names resolve against, or null for the
     *        working directory
     */
    static void apply(LaunchArguments arguments, Path launcherDirectory) {
        boolean append = arguments.appendToFiles();
        Path outputPath = resolve(arguments.outputFile(), launcherDirectory);
        Path errorPath = resolve(arguments.errorFile(), launcherDirectory);
        FileOutputStream outputFile = outputPath == null ? null : open(outputPath, append, "output");
        FileOutputStream errorFile = null;
        if (errorPath != null) {
            // Two streams on one file would each keep their own position and overwrite each other.
            errorFile = outputFile != null && sameFile(outputPath, errorPath) ? outputFile
                    : open(errorPath, append, "error");
        }
        PrintStream output = outputFile == null ? null : new PrintStream(outputFile, true);
        if (output != null) {
            System.setOut(output);
        }
        if (errorFile != null) {
            System.setErr(errorFile == outputFile ? output : new PrintStream(errorFile, true));
            try {
                errorDescriptor = errorFile.getFD();
            } catch (IOException e) {
                // the process's standard error stays the one for the launcher's own reports
            }
        }
    }

    static Path resolve(String file, Path launcherDirectory) {
        if (file.isEmpty()) {
            return null;
        }
        Path path = HostPaths.get(file);
        if (!path.isAbsolute() && launcherDirectory != null) {
            path = launcherDirectory.resolve(path);
        }
        return path.toAbsolutePath().normalize();
    }

    private static FileOutputStream open(Path path, boolean append, String streamName) {
        try {
            Path parent = path.getParent();
            if (parent != null) {
                Files.createDirectories(parent);
            }
            return new FileOutputStream(path.toFile(), append);
        } catch (IOException | RuntimeException e) {
            System.err.println("morix: standard " + streamName + " stays unredirected, " + path
                    + " cannot be opened: " + e);
            return null;
        }
    }

    private static boolean sameFile(Path opened, Path other) {
        try {
            return Files.exists(other) && Files.isSameFile(opened, other);
        } catch (IOException e) {
            return false;
        }
    }
}
