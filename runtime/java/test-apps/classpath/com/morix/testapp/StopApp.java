package com.morix.testapp;

import com.morix.api.Morix;
import java.io.OutputStream;
import java.io.PrintStream;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CountDownLatch;

/**
 * An application for the stop tests. It prints what the API tells it, adds a stop listener that prints
 * the reason, and a shutdown hook by its first argument: "hang" (never returns), "slow=MS" (returns after
 * MS milliseconds) or "none". Further arguments make it hostile to the stop: "listener-hangs" (the
 * listener never returns), "listener-interrupts" (the listener interrupts every thread of its group) and
 * "err-blocks" (System.err becomes a stream whose writes never return, as a logging bridge waiting for a
 * lock that a hung thread holds). It prints "ready" and then waits to be stopped.
 */
public final class StopApp {
    private StopApp() {
    }

    public static void main(String[] args) {
        System.out.println("service=" + Morix.isService() + " name=" + Morix.serviceName().orElse("-") + " temp="
                + Morix.tempDirectory().map(Object::toString).orElse("-") + " launcher="
                + Morix.launcherPath().map(p -> p.getFileName().toString()).orElse("-"));
        List<String> hostile = Arrays.asList(args).subList(Math.min(1, args.length), args.length);
        Morix.addStopListener(reason -> {
            System.out.println("listener " + reason);
            System.out.flush();
            if (hostile.contains("listener-interrupts")) {
                Thread.currentThread().getThreadGroup().interrupt();
                Thread.interrupted();
            }
            if (hostile.contains("listener-hangs")) {
                awaitForever();
            }
        });
        String hook = args.length > 0 ? args[0] : "none";
        Thread hookThread = new Thread(() -> {
            if (hook.equals("hang")) {
                sleepQuietly(Long.MAX_VALUE);
            } else if (hook.startsWith("slow=")) {
                sleepQuietly(Long.parseLong(hook.substring(5)));
            }
            System.out.println("hook done");
            System.out.flush();
        }, "application-hook");
        Runtime.getRuntime().addShutdownHook(hookThread);
        if (hostile.contains("err-blocks")) {
            System.setErr(new PrintStream(new OutputStream() {
                @Override
                public void write(int b) {
                    awaitForever();
                }
            }, true));
        }
        System.out.println("ready");
        System.out.flush();
        // Interrupts do not end it: only the stop does.
        long end = System.nanoTime() + 120_000_000_000L;
        while (System.nanoTime() < end) {
            sleepQuietly(100);
            Thread.interrupted();
        }
    }

    private static void sleepQuietly(long milliseconds) {
        try {
            Thread.sleep(milliseconds);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static void awaitForever() {
        CountDownLatch never = new CountDownLatch(1);
        while (true) {
            try {
                never.await();
            } catch (InterruptedException e) {
                // still waiting
            }
        }
    }
}
