package com.morix.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/** The stop of a child VM: listeners, shutdown hooks, and the halt when they take too long. */
class StopSequenceTest {
    private static final String STOP_APP = "com.morix.testapp.StopApp";

    private static ChildJvm start(boolean service, String timeout, String... application) throws Exception {
        return start(ChildJvm.classPathOptions(), service, timeout, application);
    }

    private static ChildJvm start(List<String> options, boolean service, String timeout, String... application)
            throws Exception {
        if (service) {
            options.add("-Dmorix.isService=true");
        }
        options.add("-Dmorix.tempDir=/tmp/mrx1.tmp_dir1");
        options.add("-Dmorix.moduleName=/apps/app.exe");
        options.add("-Dmorix.stopTimeout=" + timeout);
        List<String> arguments = new ArrayList<>(Arrays.asList("false", STOP_APP, "", "", "false", "MyService"));
        arguments.addAll(Arrays.asList(application));
        ChildJvm child = ChildJvm.start(options, arguments.toArray(new String[0]));
        awaitReady(child);
        return child;
    }

    private static void awaitReady(ChildJvm child) throws Exception {
        BufferedReader lines = new BufferedReader(
                new InputStreamReader(child.process.getInputStream(), StandardCharsets.UTF_8));
        StringBuilder seen = new StringBuilder();
        for (String line; (line = lines.readLine()) != null;) {
            seen.append(line).append('\n');
            if (line.equals("ready")) {
                child.seen = seen.toString();
                child.lines = lines;
                return;
            }
        }
        throw new IllegalStateException("the application ended before it was ready: " + seen + child.errors());
    }

    private static String rest(ChildJvm child) throws Exception {
        StringBuilder rest = new StringBuilder();
        for (String line; (line = child.lines.readLine()) != null;) {
            rest.append(line).append('\n');
        }
        return rest.toString();
    }

    private static void sendStopLine(ChildJvm child) throws Exception {
        OutputStream host = child.process.getOutputStream();
        host.write("0\n".getBytes(StandardCharsets.US_ASCII));
        host.close();
    }

    @Test
    void aServiceStopRunsTheListenerThenAHookThatTakesAMomentAndEndsWithZero() throws Exception {
        ChildJvm child = start(true, "20", "slow=1000");
        assertEquals("service=true name=MyService temp=/tmp/mrx1.tmp_dir1 launcher=app.exe\nready\n", child.seen);
        sendStopLine(child);
        assertEquals(0, child.waitFor(), child.errors());
        assertEquals("listener SERVICE_STOP\nhook done\n", rest(child));
    }

    @Test
    void aHookThatNeverReturnsIsHaltedAtTheBoundWithTheThreadsOnTheErrorOutput() throws Exception {
        ChildJvm child = start(true, "2", "hang");
        long start = System.nanoTime();
        sendStopLine(child);
        int exitCode = child.waitFor();
        double seconds = (System.nanoTime() - start) / 1e9;
        String errors = child.errors();
        assertEquals(StopSequence.HALT_EXIT_CODE, exitCode, errors);
        assertTrue(seconds >= 1.9 && seconds < 8, "ended after " + seconds + " s");
        assertEquals("listener SERVICE_STOP\n", rest(child));
        assertTrue(errors.contains("did not end within 2 s of the stop request; halting with exit code 124"),
                errors);
        assertTrue(errors.contains("\"application-hook\" RUNNABLE") || errors.contains("\"application-hook\" TIMED_WAITING"),
                errors);
        assertTrue(errors.contains("com.morix.testapp.StopApp.sleepQuietly("), errors);
    }

    // The application's System.err is the application's: the halt must not wait for it.
    @Test
    void aStopWhoseErrorStreamBlocksIsStillHaltedAtTheBoundWithTheThreadsOnTheErrorOutput() throws Exception {
        ChildJvm child = start(true, "2", "none", "listener-hangs", "err-blocks");
        long start = System.nanoTime();
        sendStopLine(child);
        int exitCode = child.waitFor(20);
        double seconds = (System.nanoTime() - start) / 1e9;
        String errors = child.errors();
        assertEquals(StopSequence.HALT_EXIT_CODE, exitCode, errors);
        assertTrue(seconds >= 1.9 && seconds < 8, "ended after " + seconds + " s");
        assertTrue(errors.contains("did not end within 2 s of the stop request; halting with exit code 124"),
                errors);
        assertTrue(errors.contains("com.morix.testapp.StopApp.awaitForever("), errors);
    }

    // An interrupt is no deadline: a listener that interrupts its thread group leaves the stop its time.
    @Test
    void aListenerThatInterruptsItsThreadGroupDoesNotCutTheStopShort() throws Exception {
        ChildJvm child = start(true, "2", "slow=500", "listener-interrupts");
        sendStopLine(child);
        assertEquals(0, child.waitFor(20), child.errors());
        assertEquals("listener SERVICE_STOP\nhook done\n", rest(child));
        assertTrue(!child.errors().contains("did not end within"), child.errors());
    }

    @Test
    void aConsoleCloseRunsTheListenerWithItsReasonAndEndsAsTheVmWould() throws Exception {
        ChildJvm child = start(false, "20", "none");
        assertEquals("service=false name=- temp=/tmp/mrx1.tmp_dir1 launcher=app.exe\nready\n", child.seen);
        // On Windows the VM turns a console close into this signal.
        new ProcessBuilder("kill", "-TERM", Long.toString(child.process.pid())).start().waitFor();
        assertEquals(ConsoleSignals.TERM_EXIT_CODE, child.waitFor(), child.errors());
        assertEquals("listener CONSOLE_CLOSE\nhook done\n", rest(child));
    }

    @Test
    void aConsoleCloseReachesTheListenersWhenTheRuntimeIsANamedModule() throws Exception {
        // The handler links sun.misc from the named module: it must read jdk.unsupported.
        List<String> options = new ArrayList<>(Arrays.asList("--module-path", ChildJvm.RUNTIME_JAR,
                "--add-modules=com.morix.runtime", "-cp", ChildJvm.APP_CLASSES));
        ChildJvm child = start(options, false, "20", "none");
        new ProcessBuilder("kill", "-TERM", Long.toString(child.process.pid())).start().waitFor();
        assertEquals(ConsoleSignals.TERM_EXIT_CODE, child.waitFor(), child.errors());
        assertEquals("listener CONSOLE_CLOSE\nhook done\n", rest(child));
    }

    @Test
    void theTimeoutIsWholeSecondsWithinItsRangeAndOtherwiseTheDefaultWithAWarning() {
        ByteArrayOutputStream warnings = new ByteArrayOutputStream();
        PrintStream out = new PrintStream(warnings, true);
        assertEquals(5, StopSequence.timeoutSeconds(" 5 ", out));
        assertEquals(3600, StopSequence.timeoutSeconds("3600", out));
        assertEquals(StopSequence.DEFAULT_TIMEOUT_SECONDS, StopSequence.timeoutSeconds(null, out));
        assertEquals("", warnings.toString());
        for (String bad : new String[] {"0", "-3", "2.5", "3601", "ten"}) {
            assertEquals(StopSequence.DEFAULT_TIMEOUT_SECONDS, StopSequence.timeoutSeconds(bad, out), bad);
        }
        assertEquals(5, warnings.toString().split("\n").length, warnings.toString());
    }
}
