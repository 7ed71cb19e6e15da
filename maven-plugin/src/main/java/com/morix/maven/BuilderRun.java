package com.morix.maven;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugin.logging.Log;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * One run of morix-build, its output passed on to the Maven log: errors as errors (with the file, line and
 * column they name), warnings as warnings, the rest as information. A run that fails fails the build with
 * its first error.
 */
final class BuilderRun {
    private static final String PREFIX = "morix-build: ";

    private BuilderRun() {
    }

    enum Level { ERROR, WARNING, INFO }

    /** How a line of the builder's output reaches the log, for a run that ended with this exit code. */
    static Level level(String line, int exitCode) {
        if (line.contains(": warning: ") || line.startsWith(PREFIX + "warning: ")) {
            return Level.WARNING;
        }
        if (line.contains(": error: ") || (exitCode != 0 && line.startsWith(PREFIX))) {
            return Level.ERROR;
        }
        return Level.INFO;
    }

    static void run(List<String> command, long timeoutSeconds, Log log)
            throws MojoExecutionException, MojoFailureException {
        log.debug("running " + String.join(" ", command));
        Process process;
        try {
            process = new ProcessBuilder(command).redirectErrorStream(true).start();
        } catch (IOException e) {
            throw new MojoExecutionException("cannot start " + command.get(0) + ": " + e.getMessage(), e);
        }
        List<String> lines = Collections.synchronizedList(new ArrayList<>());
        Thread reader = new Thread(() -> {
            try (BufferedReader in = new BufferedReader(
                    new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
                for (String line; (line = in.readLine()) != null; ) {
                    lines.add(line);
                }
            } catch (IOException e) {
                lines.add(PREFIX + "error: reading the output failed: " + e.getMessage());
            }
        }, "morix-build output");
        reader.setDaemon(true);
        reader.start();
        int exitCode;
        try {
            if (!process.waitFor(timeoutSeconds, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new MojoExecutionException("morix-build did not end within " + timeoutSeconds + " s");
            }
            exitCode = process.exitValue();
            reader.join(TimeUnit.SECONDS.toMillis(10));
        } catch (InterruptedException e) {
            process.destroyForcibly();
            Thread.currentThread().interrupt();
            throw new MojoExecutionException("interrupted while morix-build ran", e);
        }
        String firstError = null;
        synchronized (lines) {
            for (String line : lines) {
                switch (level(line, exitCode)) {
                case ERROR:
                    log.error(line);
                    if (firstError == null) {
                        firstError = line.startsWith(PREFIX) ? line.substring(PREFIX.length()) : line;
                    }
                    break;
                case WARNING:
                    log.warn(line);
                    break;
                default:
                    log.info(line);
                }
            }
        }
        if (exitCode != 0) {
            throw new MojoFailureException("morix-build image failed (exit code " + exitCode + ")"
                    + (firstError == null ? "" : ": " + firstError));
        }
    }
}
