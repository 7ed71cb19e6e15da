package com.morix.runtime;

import java.io.PrintWriter;
import java.io.StringWriter;

/**
 * The application's main class is not where the launcher was told to find it. The user has been told on
 * the error output which class and where the runtime looked; the native launcher sees this type, ends
 * with exit code 1 and writes the trace ({@link #trace()}) to its log instead of the console.
 */
final class MissingMainClass extends Exception {
    private static final long serialVersionUID = 1L;

    MissingMainClass(String message, Throwable cause) {
        super(message, cause);
    }

    /**
     * Tells the user on the error output, and returns the exception to throw. Typed as a plain exception,
     * so that verifying the launch's code does not load this class on every start.
     */
    static Exception explained(String explanation, ClassNotFoundException cause) {
        System.err.println(explanation);
        return new MissingMainClass(explanation, cause);
    }

    /** The stack trace with its causes, for the launcher's log. */
    String trace() {
        StringWriter text = new StringWriter();
        printStackTrace(new PrintWriter(text, true));
        return text.toString();
    }
}
