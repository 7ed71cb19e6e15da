package com.morix.runtime;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.PipedInputStream;
import java.io.PipedOutputStream;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

class StopLineWatcherTest {
    private final CountDownLatch stopped = new CountDownLatch(1);

    private Thread watch(java.io.InputStream input) {
        return StopLineWatcher.start(input, stopped::countDown);
    }

    private static void write(PipedOutputStream pipe, String text) throws IOException {
        pipe.write(text.getBytes(StandardCharsets.US_ASCII));
        pipe.flush();
    }

    @Test
    void theStopLineStopsAtOnceWithoutWaitingForTheEndOfInput() throws Exception {
        PipedOutputStream host = new PipedOutputStream();
        Thread watcher = watch(new PipedInputStream(host));
        assertTrue(watcher.isDaemon());
        write(host, "0\n");
        assertTrue(stopped.await(10, TimeUnit.SECONDS));
        host.close();
    }

    @Test
    void theEndOfInputAloneStops() throws Exception {
        watch(new ByteArrayInputStream(new byte[0]));
        assertTrue(stopped.await(10, TimeUnit.SECONDS));
    }

    @Test
    void linesThatAreNoStopCodeAreIgnored() throws Exception {
        PipedOutputStream host = new PipedOutputStream();
        watch(new PipedInputStream(host));
        StringBuilder overlong = new StringBuilder();
        for (int i = 0; i < 200; i++) {
            overlong.append('7');
        }
        write(host, "hello\n1234\n-1\n\n" + overlong + "\n");
        assertFalse(stopped.await(300, TimeUnit.MILLISECONDS));
        write(host, "12\r\n");
        assertTrue(stopped.await(10, TimeUnit.SECONDS));
        host.close();
    }

    @Test
    void stopCodesAreOneToThreeDecimalDigits() {
        for (String code : new String[] {"0", "7", "255", "0\r"}) {
            assertTrue(StopLineWatcher.isStopCode(code), code);
        }
        for (String other : new String[] {"", "\r", "1000", "x", "1 ", " 1", "+1"}) {
            assertFalse(StopLineWatcher.isStopCode(other), other);
        }
    }
}
