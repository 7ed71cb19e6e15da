package com.example.modapp;

/** A modular application: it reports the module it runs in. */
public final class Main {
    private Main() {
    }

    public static void main(String[] args) {
        System.out.println("module=" + Main.class.getModule().getName());
        System.out.println("runtime module=" + com.morix.runtime.WinLauncher.class.getModule().getName());
        System.out.println("args=" + String.join("|", args));
    }
}
