package com.morix.launchertest;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * The application the launcher tests run through the real JVM. Its arguments are commands, done in order:
 * print (arguments, properties, memory, class path), greet (a class of an included jar), exit=N,
 * throw-while-busy (main throws while a non-daemon thread sleeps), late-marker=MS:FILE (a non-daemon
 * thread writes FILE after MS milliseconds, when main has long returned), halt=N (Runtime.halt), wait-for=FILE
 * (waits until FILE exists, at most two minutes), temp-tree (writes files two levels deep into the
 * launcher's temporary directory).
 */
public final class ProbeApp {
    private ProbeApp() {
    }

    public static void main(String[] args) throws Exception {
        for (String command : args) {
            if (command.equals("print")) {
                System.out.println("args=" + String.join("|", args));
                System.out.println("probe.property=" + System.getProperty("probe.property"));
                System.out.println("from.argfile=" + System.getProperty("from.argfile"));
                System.out.println("maxMemoryMB=" + Runtime.getRuntime().maxMemory() / (1024 * 1024));
                System.out.println("classpath=" + System.getProperty("java.class.path"));
                System.out.println("service=" + System.getProperty("morix.isService"));
                System.out.println("tempDir=" + System.getProperty("morix.tempDir"));
            } else if (command.equals("greet")) {
                Class<?> greeting = Class.forName("com.morix.launchertest.lib.Greeting");
                System.out.println("greeting=" + greeting.getMethod("text").invoke(null));
            } else if (command.startsWith("exit=")) {
                System.out.flush();
                System.exit(Integer.parseInt(command.substring(5)));
            } else if (command.startsWith("halt=")) {
                System.out.flush();
                Runtime.getRuntime().halt(Integer.parseInt(command.substring(5)));
            } else if (command.startsWith("wait-for=")) {
                long end = System.currentTimeMillis() + 120_000;
                while (!Files.exists(Paths.get(command.substring(9))) && System.currentTimeMillis() < end) {
                    sleep(50);
                }
            } else if (command.equals("temp-tree")) {
                // The Windows path of the directory, seen through the bridge's drive directory.
                String temp = System.getProperty("morix.tempDir").replace('\\', '/');
                Path tree = Paths.get(System.getProperty("morix.windowsDrives"),
                        Character.toLowerCase(temp.charAt(0)) + ":", temp.substring(3)).resolve("app/cache/deep");
                Files.createDirectories(tree);
                Files.write(tree.resolve("entry.txt"), "made by the application".getBytes(StandardCharsets.UTF_8));
            } else if (command.equals("throw-while-busy")) {
                Thread busy = new Thread(() -> sleep(120_000));
                busy.start();
                throw new IllegalStateException("thrown by the probe application");
            } else if (command.startsWith("late-marker=")) {
                String[] parts = command.substring(12).split(":", 2);
                long delay = Long.parseLong(parts[0]);
                String file = parts[1];
                Thread late = new Thread(() -> {
                    sleep(delay);
                    try {
                        Files.write(Paths.get(file), "written after main".getBytes(StandardCharsets.UTF_8));
                    } catch (IOException e) {
                        throw new RuntimeException(e);
                    }
                });
                late.start();
            }
        }
        System.out.println("main done");
    }

    private static void sleep(long milliseconds) {
        try {
            Thread.sleep(milliseconds);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
