package com.morix.bridgecheck;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * The Java side of the bridge's end-to-end tests. main reports what it received and then does what its
 * arguments ask, in order; the static and instance methods below are called by the driver through every
 * call form of JNI.
 */
public class BridgeCheck {
    public static void main(String[] args) throws Exception {
        System.out.println("hello from Java " + System.getProperty("java.version"));
        System.out.println("args=" + Arrays.toString(args));
        for (String argument : args) {
            String name = argument.contains("=") ? argument.substring(0, argument.indexOf('=')) : argument;
            String value = argument.substring(name.length() + (argument.contains("=") ? 1 : 0));
            switch (name) {
            case "prop":
                System.out.println("prop " + value + "=" + System.getProperty(value));
                break;
            case "exit":
                System.out.println("main: exiting with " + value);
                System.exit(Integer.parseInt(value));
                break;
            case "thread-exit":
                exitFromThread(Integer.parseInt(value));
                break;
            case "throw":
                throw new IllegalStateException("boom with " + args.length + " args");
            case "burst":
                for (int i = 0; i < Integer.parseInt(value); i++) {
                    System.out.println("burst line " + i + " " + "x".repeat(60));
                }
                break;
            case "interleave":
                for (int i = 0; i < Integer.parseInt(value); i++) {
                    System.out.println("out " + i);
                    System.err.println("err " + i);
                }
                break;
            case "stdin":
                echoStandardInput();
                break;
            case "stress":
                stress();
                break;
            case "print-hook":
                Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("shutdown hook printed")));
                break;
            case "hook":
                Runtime.getRuntime().addShutdownHook(new Thread(() -> write(value, "shutdown hook ran")));
                break;
            case "ready":
                write(value, "ready");
                break;
            case "sleep":
                Thread.sleep(Long.parseLong(value));
                System.out.println("slept " + value);
                break;
            default:
                break;
            }
        }
        System.out.println("main: returning");
    }

    private static void exitFromThread(int code) {
        // Not a daemon: DestroyJavaVM waits for it, and it ends the process before that returns.
        Thread thread = new Thread(() -> {
            sleepQuietly(300);
            System.out.println("thread: exiting with " + code);
            System.exit(code);
        });
        thread.start();
    }

    private static void echoStandardInput() throws Exception {
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        String line;
        while ((line = in.readLine()) != null) {
            System.out.println("stdin: " + line);
        }
        System.out.println("stdin: end");
    }

    private static int depth;

    private static void recurse() {
        depth++;
        recurse();
    }

    private static void stress() throws Exception {
        try {
            recurse();
        } catch (StackOverflowError e) {
            System.out.println("stress: StackOverflowError caught, depth>1000=" + (depth > 1000));
        }
        long bytes = 0;
        for (int i = 0; i < 2000; i++) {
            byte[] block = new byte[256 * 1024];
            block[i % block.length] = 1;
            bytes += block.length;
        }
        Thread[] threads = new Thread[32];
        AtomicInteger ran = new AtomicInteger();
        for (int i = 0; i < threads.length; i++) {
            threads[i] = new Thread(ran::incrementAndGet);
            threads[i].start();
        }
        for (Thread thread : threads) {
            thread.join();
        }
        Object nothing = null;
        try {
            nothing.hashCode();
        } catch (NullPointerException e) {
            System.out.println("stress: NullPointerException caught");
        }
        System.gc();
        System.out.println("stress: allocated MB=" + (bytes >> 20) + " threads=" + ran.get());
    }

    private static void write(String file, String text) {
        try {
            Files.write(Paths.get(file), (text + "\n").getBytes(StandardCharsets.UTF_8));
        } catch (Exception e) {
            System.err.println("cannot write " + file + ": " + e);
        }
    }

    private static void sleepQuietly(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    // ---- called by the driver

    /** Every parameter kind, for the argument marshalling of the variadic, va_list and array call forms. */
    public static String probe(int i, long j, double d, float f, boolean z, char c, short s, byte b, String[] none,
            String text) {
        return i + "|" + Long.toHexString(j) + "|" + d + "|" + f + "|" + z + "|" + Integer.toHexString(c) + "|" + s
                + "|" + b + "|" + Arrays.toString(none) + "|" + text;
    }

    public String probeInstance(int i, long j, double d, float f, boolean z, char c, short s, byte b, String[] none,
            String text) {
        return "instance " + probe(i, j, d, f, z, c, s, b, none, text);
    }

    public static BridgeCheck instance() {
        return new BridgeCheck();
    }

    // One method per return kind, static and instance, with values that follow from the seed.
    private static int touched;

    public static boolean staticBoolean(int seed) {
        return seed % 2 == 1;
    }

    public static byte staticByte(int seed) {
        return (byte) (seed * 3);
    }

    public static char staticChar(int seed) {
        return (char) (0x263A + seed);
    }

    public static short staticShort(int seed) {
        return (short) (-seed * 100);
    }

    public static int staticInt(int seed) {
        return seed * 1000;
    }

    public static long staticLong(int seed) {
        return seed * 10_000_000_000L;
    }

    public static float staticFloat(int seed) {
        return seed / 4f;
    }

    public static double staticDouble(int seed) {
        return seed / 8.0;
    }

    public static Object staticObject(int seed) {
        return "object " + seed;
    }

    public static void staticVoid(int seed) {
        touched += seed;
    }

    public boolean instanceBoolean(int seed) {
        return staticBoolean(seed);
    }

    public byte instanceByte(int seed) {
        return staticByte(seed);
    }

    public char instanceChar(int seed) {
        return staticChar(seed);
    }

    public short instanceShort(int seed) {
        return staticShort(seed);
    }

    public int instanceInt(int seed) {
        return staticInt(seed);
    }

    public long instanceLong(int seed) {
        return staticLong(seed);
    }

    public float instanceFloat(int seed) {
        return staticFloat(seed);
    }

    public double instanceDouble(int seed) {
        return staticDouble(seed);
    }

    public Object instanceObject(int seed) {
        return staticObject(seed);
    }

    public void instanceVoid(int seed) {
        staticVoid(seed);
    }

    public static int touched() {
        return touched;
    }

    // A second Windows thread: the first waits in Java until the second has called in.
    private static final CountDownLatch partnerCalled = new CountDownLatch(1);

    public static boolean awaitPartner() throws InterruptedException {
        return partnerCalled.await(30, TimeUnit.SECONDS);
    }

    public static String fromPartner(String text) {
        partnerCalled.countDown();
        return "partner " + text + " on " + (Thread.currentThread().isDaemon() ? "daemon" : "user") + " thread";
    }
}
