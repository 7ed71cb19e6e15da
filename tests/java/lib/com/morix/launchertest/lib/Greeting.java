package com.morix.launchertest.lib;

/** A class of a library jar that the launcher extracts from its payload. */
public final class Greeting {
    private Greeting() {
    }

    public static String text() {
        return "hello from an included jar";
    }
}
