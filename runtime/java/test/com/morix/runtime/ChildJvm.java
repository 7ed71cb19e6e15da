package com.morix.runtime;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;

/** A Java VM started the way the launcher starts one: options, then WinLauncher with its arguments. */
final class ChildJvm {
    static final String RUNTIME_JAR = required("morix.test.runtimeJar");
    static final String APP_CLASSES = required("morix.test.appClasses");
    static final String MODULE_JAR = required("morix.test.moduleJar");

    final Process process;
    private final CompletableFuture<String> errors;
    // For tests that read the output line by line: what was read so far, and the reader.
    String seen = "";
    java.io.BufferedReader lines;

    private ChildJvm(Process process) {
        this.process = process;
        this.errors = CompletableFuture.supplyAsync(() -> readAll(process.getErrorStream()));
    }

    private static String required(String property) {
        String value = System.getProperty(property);
        if (value == null) {
            throw new IllegalStateException("system property " + property + " is not set");
        }
        return value;
    }

    /** Options for a run with the runtime and the test applications on the class path. */
    static List<String> classPathOptions() {
        return new ArrayList<>(Arrays.asList("-cp", RUNTIME_JAR + File.pathSeparator + APP_CLASSES));
    }

    /** Options for a run with the runtime and the test module on the module path, as the launcher makes them. */
    static List<String> modulePathOptions() {
        return new ArrayList<>(Arrays.asList("--module-path", RUNTIME_JAR + File.pathSeparator + MODULE_JAR,
                "--add-opens=app.mod/com.morix.testapp.module=com.morix.runtime",
                "--add-modules=app.mod,com.morix.runtime"));
    }

    static ChildJvm start(List<String> options, String... launcherArguments) throws IOException {
        List<String> command = new ArrayList<>();
        command.add(System.getProperty("java.home") + File.separator + "bin" + File.separator + "java");
        command.addAll(options);
        command.add("com.morix.runtime.WinLauncher");
        command.addAll(Arrays.asList(launcherArguments));
        return new ChildJvm(new ProcessBuilder(command).start());
    }

    /** Waits for the end (at most 60 s, then the child is killed) and returns the exit code. */
    int waitFor() throws InterruptedException {
        return waitFor(60);
    }

    /** Waits for the end (at most the given seconds, then the child is killed) and returns the exit code. */
    int waitFor(int seconds) throws InterruptedException {
        if (!process.waitFor(seconds, TimeUnit.SECONDS)) {
            process.destroyForcibly();
            throw new IllegalStateException("child JVM did not end");
        }
        return process.exitValue();
    }

    /** What the child wrote to standard output (and no test read itself); the tests' outputs are small. */
    String output() {
        return readAll(process.getInputStream()).replace("\r\n", "\n");
    }

    String errors() {
        return errors.join().replace("\r\n", "\n");
    }

    private static String readAll(InputStream in) {
        try {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] buffer = new byte[4096];
            int n;
            while ((n = in.read(buffer)) > 0) {
                bytes.write(buffer, 0, n);
            }
            return new String(bytes.toByteArray(), StandardCharsets.UTF_8);
        } catch (IOException e) {
            return "<" + e + ">";
        }
    }
}
