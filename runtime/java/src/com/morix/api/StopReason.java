package com.morix.api;

/** Why the application is asked to stop. */
public enum StopReason {
    /** The service was stopped (by the service manager, a stop command or a system shutdown), or the
     *  service host that runs the application went away. */
    SERVICE_STOP,
    /** The console of the application was closed, or the user logs off or the system shuts down while
     *  the application runs in a console. */
    CONSOLE_CLOSE
}
