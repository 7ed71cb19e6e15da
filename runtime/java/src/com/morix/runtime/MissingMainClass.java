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

    /** The stack trace with its causes, for the launcher's log. */
    String trace() {
        StringWriter text = new StringWriter();
        printStackTrace(new PrintWriter(text, true));
        return text.toString();
    }
}
