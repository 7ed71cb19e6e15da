package com.morix.runtime;

import com.morix.api.StopReason;

/**
 * A console close (and a log-off or system shutdown seen by a console program) reaches a Java VM on
 * Windows as the signal TERM, whose default handler calls System.exit(143). Taking it over runs the stop
 * listeners first, with the same exit code and the stop's time limit. The handler is a plain class on the
 * JDK's {@code sun.misc.Signal} ({@link TermSignal}); on a runtime without that API, or with signals
 * reserved for the VM (-Xrs, as a service child has it), nothing is installed and the VM's default stays.
 */
final class ConsoleSignals implements Runnable {
    static final int TERM_EXIT_CODE = 128 + 15;

    // The instance is what runs on the signal: one class less to load before the application's main.
    private ConsoleSignals() {
    }

    /** True when the handler was installed. */
    static boolean install() {
        try {
            TermSignal.install(new ConsoleSignals());
            return true;
        } catch (RuntimeException | LinkageError e) {
            // -Xrs refuses the signal; a runtime without sun.misc, or a module graph without
            // jdk.unsupported, cannot link the handler.
            return false;
        }
    }

    @Override
    public void run() {
        StopSequence.stop(StopReason.CONSOLE_CLOSE, TERM_EXIT_CODE);
    }
}
