package com.example.greeting;

/** The demo's library: one jar of its own on the class path. */
public final class Greeter {
    private Greeter() {
    }

    public static String greet(String name) {
        return "Hello, " + name + "!";
    }
}
