package com.morix.servicetest;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.Arrays;
import java.util.concurrent.TimeUnit;

/**
 * The application that the service tests run through a real launcher and the bridged runtime. Its first
 * argument is a directory (a path of the platform that Java runs on) where it leaves its traces, named by
 * its role: "service" in a service child, "run" otherwise. ROLE-started.txt holds the other arguments once
 * main runs, ROLE-temp.txt the launcher's temporary directory; ROLE-stopped.txt is written by a shutdown
 * hook, which with the argument "hang-hook" then never returns. With the argument "deaf" it stops the
 * thread that reads the host's stop line, as a VM hung elsewhere would leave it. It then waits for a file
 * "release" in that directory, at most two minutes, and returns.
 */
public final class ServiceApp {
    private static final long LONGEST_WAIT_MS = TimeUnit.MINUTES.toMillis(2);

    private ServiceApp() {
    }

    public static void main(String[] args) throws InterruptedException {
        Path traces = Paths.get(args[0]);
        String role = Boolean.getBoolean("morix.isService") ? "service" : "run";
        String[] rest = Arrays.copyOfRange(args, 1, args.length);
        boolean hang = Arrays.asList(rest).contains("hang-hook");
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            write(traces.resolve(role + "-stopped.txt"), "shutdown hook ran\n");
            while (hang) {
                sleep(1000);
            }
        }, "service-app-hook"));
        if (Arrays.asList(rest).contains("deaf")) {
            suspendThread("morix-service-stop");
        }
        write(traces.resolve(role + "-temp.txt"), System.getProperty("morix.tempDir", ""));
        write(traces.resolve(role + "-started.txt"), "args=" + Arrays.toString(rest) + "\n");

        Path release = traces.resolve("release");
        long end = System.currentTimeMillis() + LONGEST_WAIT_MS;
        while (!Files.exists(release) && System.currentTimeMillis() < end) {
            Thread.sleep(50);
        }
    }

    // Deprecated for removal, and exactly what the test needs: a thread that never goes on.
    @SuppressWarnings("removal")
    private static void suspendThread(String name) {
        for (Thread thread : Thread.getAllStackTraces().keySet()) {
            if (thread.getName().equals(name)) {
                thread.suspend();
            }
        }
    }

    private static void sleep(long milliseconds) {
        try {
            Thread.sleep(milliseconds);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    // Written whole under a temporary name first, so that a test never reads half a trace.
    private static void write(Path file, String text) {
        try {
            Path partial = file.resolveSibling(file.getFileName() + ".partial");
            Files.write(partial, text.getBytes(StandardCharsets.UTF_8));
            Files.move(partial, file, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }
}
