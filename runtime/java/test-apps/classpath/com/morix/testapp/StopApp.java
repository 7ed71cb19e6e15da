package com.morix.testapp;

import com.morix.api.Morix;

/**
 * An application for the stop tests. It prints what the API tells it, adds a stop listener that prints
 * the reason, and a shutdown hook by its first argument: "hang" (never returns), "slow=MS" (returns after
 * MS milliseconds) or "none". It prints "ready" and then waits to be stopped.
 */
public final class StopApp {
    private StopApp() {
    }

    public static void main(String[] args) throws InterruptedException {
        System.out.println("service=" + Morix.isService() + " name=" + Morix.serviceName().orElse("-") + " temp="
                + Morix.tempDirectory().map(Object::toString).orElse("-") + " launcher="
                + Morix.launcherPath().map(p -> p.getFileName().toString()).orElse("-"));
        Morix.addStopListener(reason -> System.out.println("listener " + reason));
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
        System.out.println("ready");
        System.out.flush();
        Thread.sleep(120_000);
    }

    private static void sleepQuietly(long milliseconds) {
        try {
            Thread.sleep(milliseconds);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
