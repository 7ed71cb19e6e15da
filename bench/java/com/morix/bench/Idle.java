package com.morix.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.concurrent.TimeUnit;

/**
 * The application of the service figures: it writes the file "idle-ready" into the directory given as its
 * first argument (a path of the platform that Java runs on) once main runs, then waits until the service's
 * stop ends the VM, at most two minutes.
 */
public final class Idle {
    private Idle() {
    }

    public static void main(String[] args) throws IOException, InterruptedException {
        Files.write(Paths.get(args[0], "idle-ready"), new byte[0]);
        Thread.sleep(TimeUnit.MINUTES.toMillis(2));
    }
}
