package com.morix.runtime;

import sun.misc.Signal;
import sun.misc.SignalHandler;

/**
 * The handler of the signal TERM, on the JDK's {@code sun.misc.Signal}: Java 8 has it in rt.jar, later
 * runtimes in the module jdk.unsupported. The release check of the compiler lists no sun.misc, so this
 * class is compiled on its own against the building JDK's platform classes at the same class-file version
 * as the others; it may therefore use nothing that Java 8 lacks.
 */
final class TermSignal {
    private TermSignal() {
    }

    /** Installs the handler; throws IllegalArgumentException where the VM keeps the signal for itself. */
    static void install(Runnable onSignal) {
        Signal.handle(new Signal("TERM"), new Handler(onSignal));
    }

    // Kept apart from the class that the others call, so that compiling them needs no sun.misc.
    private static final class Handler implements SignalHandler {
        private final Runnable onSignal;

        Handler(Runnable onSignal) {
            this.onSignal = onSignal;
        }

        @Override
        public void handle(Signal signal) {
            onSignal.run();
        }
    }
}
