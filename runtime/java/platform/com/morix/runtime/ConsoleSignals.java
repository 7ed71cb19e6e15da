package com.morix.runtime;

import com.morix.api.StopReason;
import sun.misc.Signal;
import sun.misc.SignalHandler;

/**
 * A console close (and a log-off or system shutdown seen by a console program) reaches a Java VM on
 * Windows as the signal TERM, whose default handler calls System.exit(143). Taking it over runs the stop
 * listeners first, with the same exit code and the stop's time limit. On a runtime without the JDK's
 * {@code sun.misc.Signal} (Java 8 has it in rt.jar, later runtimes in the module jdk.unsupported), or with
 * signals reserved for the VM (-Xrs, as a service child has it), nothing is installed and the VM's default
 * stays.
 *
 * <p>The compiler's release check lists no sun.misc, so this class is compiled on its own against the
 * building JDK's platform classes at the class-file version of the others: it may use nothing that Java 8
 * lacks.
 */
final class ConsoleSignals {
    static final int TERM_EXIT_CODE = 128 + 15;

    private ConsoleSignals() {
    }

    /** True when the handler was installed. */
    static boolean install() {
        try {
            Signal.handle(new Signal("TERM"), new Handler());
            return true;
        } catch (RuntimeException | LinkageError e) {
            // -Xrs refuses the signal; a runtime without sun.misc, or a module graph without
            // jdk.unsupported, cannot link it.
            return false;
        }
    }

    // Kept apart from the class that the launch calls, so that compiling that call needs no sun.misc, and
    // a runtime without it fails in the call, where it is caught.
    static final class Handler implements SignalHandler {
        @Override
        public void handle(Signal signal) {
            StopSequence.stop(StopReason.CONSOLE_CLOSE, TERM_EXIT_CODE);
        }
    }
}
