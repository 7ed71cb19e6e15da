package com.morix.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class OutputRedirectionTest {
    @TempDir
    Path dir;
    private PrintStream savedOut;
    private PrintStream savedErr;

    @BeforeEach
    void saveStreams() {
        savedOut = System.out;
        savedErr = System.err;
    }

    @AfterEach
    void restoreStreams() {
        if (System.out != savedOut) {
            System.out.close();
        }
        if (System.err != savedErr) {
            System.err.close();
        }
        System.setOut(savedOut);
        System.setErr(savedErr);
    }

    private static LaunchArguments arguments(String out, String err, boolean append) {
        return LaunchArguments.parse(new String[] {"false", "Main", out, err, Boolean.toString(append), "p"});
    }

    private static String read(Path file) throws IOException {
        return new String(Files.readAllBytes(file), StandardCharsets.UTF_8).replace("\r\n", "\n");
    }

    @Test
    void filesAreReplacedUnlessAppendIsAsked() throws IOException {
        Path out = dir.resolve("out.log");
        Path err = dir.resolve("err.log");
        Files.write(out, "old out\n".getBytes(StandardCharsets.UTF_8));
        Files.write(err, "old err\n".getBytes(StandardCharsets.UTF_8));

        OutputRedirection.apply(arguments(out.toString(), err.toString(), false), null);
        System.out.println("new out");
        System.err.println("new err");
        restoreStreams();
        assertEquals("new out\n", read(out));
        assertEquals("new err\n", read(err));

        OutputRedirection.apply(arguments(out.toString(), err.toString(), true), null);
        System.out.println("more out");
        System.err.println("more err");
        restoreStreams();
        assertEquals("new out\nmore out\n", read(out));
        assertEquals("new err\nmore err\n", read(err));
    }

    @Test
    void relativeFilesResolveAgainstTheLauncherDirectoryWhoseMissingFoldersAreMade() throws IOException {
        OutputRedirection.apply(arguments("logs/out.log", "", false), dir);
        System.out.println("to the log");
        restoreStreams();
        assertEquals("to the log\n", read(dir.resolve("logs").resolve("out.log")));
    }

    @Test
    void oneFileForBothStreamsKeepsEveryLineInOrder() throws IOException {
        Path both = dir.resolve("both.log");
        Files.write(both, "old content that is longer than the new one\n".getBytes(StandardCharsets.UTF_8));
        OutputRedirection.apply(arguments(both.toString(), dir.resolve(".").resolve("both.log").toString(), false),
                null);
        assertSame(System.out, System.err);
        System.out.println("out 1");
        System.err.println("err 1");
        System.out.println("out 2");
        restoreStreams();
        assertEquals("out 1\nerr 1\nout 2\n", read(both));
    }

    @Test
    void aFileThatCannotBeOpenedLeavesItsStreamAndWarns() throws IOException {
        Path notADirectory = dir.resolve("plain-file");
        Files.write(notADirectory, new byte[0]);
        ByteArrayOutputStream warnings = new ByteArrayOutputStream();
        PrintStream original = new PrintStream(warnings, true);
        System.setErr(original);
        PrintStream out = System.out;

        OutputRedirection.apply(arguments(notADirectory.resolve("out.log").toString(), "", false), null);
        assertSame(out, System.out);
        assertSame(original, System.err);
        String warning = new String(warnings.toByteArray(), StandardCharsets.UTF_8);
        assertTrue(warning.startsWith("morix: standard output stays unredirected, "), warning);
        assertTrue(warning.contains("out.log"), warning);
    }

    @Test
    void emptyNamesLeaveBothStreamsAlone() {
        OutputRedirection.apply(arguments("", "", true), dir);
        assertSame(savedOut, System.out);
        assertSame(savedErr, System.err);
        assertFalse(Files.exists(dir.resolve("logs")));
    }
}
