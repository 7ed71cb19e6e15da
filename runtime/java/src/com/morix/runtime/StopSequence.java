package com.morix.runtime;

import com.morix.api.StopListener;
import com.morix.api.StopReason;
import java.io.BufferedOutputStream;
import java.io.ByteArrayOutputStream;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.locks.LockSupport;

/**
 * The end of the application on a stop request: the stop listeners, then System.exit, so that the
 * shutdown hooks run, all within a time limit. Past the limit, the threads' names and stacks go to the
 * error output (redirected, where the launcher redirects it) and the VM is halted with
 * {@link #HALT_EXIT_CODE}. The halt depends on nothing the application owns: its deadline is kept by a
 * thread of its own that no interrupt wakes, and the dump is written through a stream of its own by a
 * further thread, which the halt waits for only briefly. Applications use it through
 * {@link com.morix.api.Morix}.
 */
public final class StopSequence {
    /** The time limit in whole seconds, from 1 to {@value #MAX_TIMEOUT_SECONDS}. */
    public static final String TIMEOUT_PROPERTY = "morix.stopTimeout";
    /**
     * Well below the wait hint of 50 s that the service host reports while the stop is pending, and the
     * time Windows has traditionally given services at a system shutdown.
     */
    public static final int DEFAULT_TIMEOUT_SECONDS = 20;
    /** The builder refuses longer limits, and the service host ends its child 10 s after this one. */
    public static final int MAX_TIMEOUT_SECONDS = 3600;
    /** The exit code of a stop that did not end in time (the shell's code for a timed-out command). */
    public static final int HALT_EXIT_CODE = 124;
    /** The halt waits this long for the thread dump, which a full pipe or a stopped reader may block. */
    static final long DUMP_WAIT_MILLIS = 2000;
    static final String WATCHDOG_THREAD_NAME = "morix-stop-timeout";
    static final String DUMP_THREAD_NAME = "morix-stop-dump";

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
        // The warning goes to System.err only once the deadline is kept: that stream may block.
        ByteArrayOutputStream warning = new ByteArrayOutputStream();
        startWatchdog(timeoutSeconds(System.getProperty(TIMEOUT_PROPERTY), new PrintStream(warning, true)));
        if (warning.size() > 0) {
            System.err.print(warning);
        }
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
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(seconds);
        Thread watchdog = new Thread(() -> {
            sleepUntil(deadline);
            Thread dump = new Thread(() -> writeDump(seconds), DUMP_THREAD_NAME);
            dump.setDaemon(true);
            dump.start();
            joinAtMost(dump, DUMP_WAIT_MILLIS);
            Runtime.getRuntime().halt(HALT_EXIT_CODE);
        }, WATCHDOG_THREAD_NAME);
        // A daemon keeps nothing alive, and daemons go on running while the shutdown hooks run.
        watchdog.setDaemon(true);
        watchdog.start();
    }

    /** Sleeps until the deadline of the monotonic clock; an interrupt is no reason to wake. */
    static void sleepUntil(long deadlineNanos) {
        for (long left = deadlineNanos - System.nanoTime(); left > 0; left = deadlineNanos - System.nanoTime()) {
            LockSupport.parkNanos(left);
            Thread.interrupted();
        }
    }

    private static void joinAtMost(Thread thread, long millis) {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(millis);
        for (long left = millis; thread.isAlive() && left > 0;
                left = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime())) {
            try {
                thread.join(left);
            } catch (InterruptedException e) {
                // the deadline still holds
            }
        }
    }

    // Not System.err, which belongs to the application (a logging bridge, perhaps, waiting for a lock that
    // a hung thread holds), but a stream of its own on the descriptor the launcher set up.
    private static void writeDump(int seconds) {
        try {
            PrintStream err = new PrintStream(
                    new BufferedOutputStream(new FileOutputStream(OutputRedirection.errorDescriptor())), false);
            err.println("morix: the application did not end within " + seconds + " s of the stop request;"
                    + " halting with exit code " + HALT_EXIT_CODE + ". Its threads:");
            printThreads(err);
            err.flush();
        } catch (Throwable t) {
            // nothing is left to report it to; the halt follows all the same
        }
    }

    static void printThreads(PrintStream out) {
        for (Map.Entry<Thread, StackTraceElement[]> entry : Thread.getAllStackTraces().entrySet()) {
            Thread thread = entry.getKey();
            if (thread == Thread.currentThread() || thread.getName().equals(WATCHDOG_THREAD_NAME)) {
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
