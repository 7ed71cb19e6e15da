package com.morix.runtime;

import java.io.IOException;
import java.io.InputStream;

/**
 * Watches standard input in a service child. The service host asks the child to stop by writing a small
 * decimal code and a line feed and then closing the pipe; the child then ends through the stop sequence
 * ({@link StopSequence}: stop listeners, shutdown hooks, exit code 0, all within a time limit). The end of input alone (the host went away) stops it too.
 * Lines that are not such a code are ignored.
 */
final class StopLineWatcher implements Runnable {
    static final String THREAD_NAME = "morix-service-stop";
    private static final int MAX_CODE_DIGITS = 3;
    private static final int MAX_LINE_LENGTH = 64;

    private final InputStream input;
    private final Runnable stop;

    StopLineWatcher(InputStream input, Runnable stop) {
        this.input = input;
        this.stop = stop;
    }

    /** Starts the watcher on a daemon thread, so that it never keeps the application alive. */
    static Thread start(InputStream input, Runnable stop) {
        Thread thread = new Thread(new StopLineWatcher(input, stop), THREAD_NAME);
        thread.setDaemon(true);
        thread.start();
        return thread;
    }

    @Override
    public void run() {
        try {
            waitForStopRequest();
        } catch (IOException e) {
            // A broken pipe means the host is gone: the same as the end of input.
        }
        stop.run();
    }

    private void waitForStopRequest() throws IOException {
        StringBuilder line = new StringBuilder();
        boolean overlong = false;
        int c;
        while ((c = input.read()) >= 0) {
            if (c == '\n') {
                if (!overlong && isStopCode(line)) {
                    return;
                }
                line.setLength(0);
                overlong = false;
            } else if (line.length() < MAX_LINE_LENGTH) {
                line.append((char) c);
            } else {
                overlong = true;
            }
        }
    }

    static boolean isStopCode(CharSequence line) {
        int length = line.length();
        if (length > 0 && line.charAt(length - 1) == '\r') {
            length--;
        }
        if (length == 0 || length > MAX_CODE_DIGITS) {
            return false;
        }
        for (int i = 0; i < length; i++) {
            if (line.charAt(i) < '0' || line.charAt(i) > '9') {
                return false;
            }
        }
        return true;
    }
}
