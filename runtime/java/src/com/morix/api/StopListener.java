package com.morix.api;

/**
 * Hears of a stop request before the application's shutdown hooks run. Listeners run one after the other
 * on the thread that received the request, in the order they were added; what one throws is printed to
 * the error output and does not keep the others from running. The time they take counts towards the
 * stop's time limit (see {@link Morix#addStopListener}).
 */
@FunctionalInterface
public interface StopListener {
    /** Called once, when the stop begins. */
    void stopping(StopReason reason);
}
