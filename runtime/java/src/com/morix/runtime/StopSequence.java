package com.morix.runtime;

import com.morix.api.StopListener;
import com.morix.api.StopReason;
import java.io.PrintStream;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * The end of the application on a stop request: the stop listeners, then System.exit, so that the
 * shutdown hooks run, all within a time limit. Past the limit, the threads' names and stacks go to the
 * error output (redirected, where the launcher redirects it) and the VM is halted with
 * {@link #HALT_EXIT_CODE}. Applications use it through {@link com.morix.api.Morix}.
 */
public final class StopSequence {
    /** The time limit in whole seconds, from 1 to {@value #MAX_TIMEOUT_SECONDS}. */
    public static final String TIMEOUT_PROPERTY = "morix.stopTimeout";
    /**
     * Well below the wait hint of 50 s that the service host reports while the stop is pending, and the
     * time Windows has traditionally given services at a system shutdown.
     */
    public static final int DEFAULT_TIMEOUT_SECONDS = 20;
    public static final int MAX_TIMEOUT_SECONDS = 3600;
    /** The exit code of a stop that did not end in time (the shell's code for a timed-out command). */
    public static final int HALT_EXIT_CODE = 124;
    static final String WATCHDOG_THREAD_NAME = "morix-stop-timeout";

    private static final List<StopListener> LISTENERS = new CopyOnWriteArrayList<>();
    private static final AtomicBoolean STARTED = new AtomicBoolean();

    private StopSequence() {
    }

    public static void addListener(StopListener listener) {
        if (listener == null) {
            throw new NullPointerException("listener");
        }
        LISTENERS.add(listener);
    }

    public static boolean removeListener(StopListener listener) {
        return LISTENERS.remove(listener);
    }

    /**
     * Stops the application: only the first call does anything, and it does not return (System.exit). The
     * exit code is the one the VM ends with when everything finishes in time.
     */
    static void stop(StopReason reason, int exitCode) {
        if (!STARTED.compareAndSet(false, true)) {
            return;
        }
        startWatchdog(timeoutSeconds(System.getProperty(TIMEOUT_PROPERTY), System.err));
        for (StopListener listener : LISTENERS) {
            try {
                listener.stopping(reason);
            } catch (Throwable t) {
                System.err.println("morix: a stop listener failed: " + t);
                t.printStackTrace();
            }
        }
        System.exit(exitCode);
    }

    /** The configured time limit, or the default (with a warning) for a value that is no valid one. */
    static int timeoutSeconds(String value, PrintStream warnings) {
        if (value == null || value.trim().isEmpty()) {
            return DEFAULT_TIMEOUT_SECONDS;
        }
        try {
            int seconds = Integer.parseInt(value.trim());
            if (seconds >= 1 && seconds <= MAX_TIMEOUT_SECONDS) {
                return seconds;
            }
        } catch (NumberFormatException e) {
            // reported below
        }
        warnings.println("morix: " + TIMEOUT_PROPERTY + "=" + value + " is no whole number of seconds from 1 to "
                + MAX_TIMEOUT_SECONDS + "; the stop waits " + DEFAULT_TIMEOUT_SECONDS + " s");
        return DEFAULT_TIMEOUT_SECONDS;
    }

    private static void startWatchdog(int seconds) {
        Thread watchdog = new Thread(() -> {
            try {
                Thread.sleep(TimeUnit.SECONDS.toMillis(seconds));
            } catch (InterruptedException e) {
                // Nobody interrupts it; halting now is the safe reading of it all the same.
            }
            PrintStream err = System.err;
            err.println("morix: the application did not end within " + seconds + " s of the stop request;"
                    + " halting with exit code " + HALT_EXIT_CODE + ". Its threads:");
            printThreads(err);
            err.flush();
            Runtime.getRuntime().halt(HALT_EXIT_CODE);
        }, WATCHDOG_THREAD_NAME);
        // A daemon keeps nothing alive, and daemons go on running while the shutdown hooks run.
        watchdog.setDaemon(true);
        watchdog.start();
    }

    static void printThreads(PrintStream out) {
        for (Map.Entry<Thread, StackTraceElement[]> entry : Thread.getAllStackTraces().entrySet()) {
            Thread thread = entry.getKey();
            if (thread == Thread.currentThread()) {
                continue;
            }
            out.println("\"" + thread.getName() + "\"" + (thread.isDaemon() ? " daemon" : "") + " "
                    + thread.getState());
            for (StackTraceElement frame : entry.getValue()) {
                out.println("    at " + frame);
            }
        }
    }
}
