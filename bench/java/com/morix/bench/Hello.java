package com.morix.bench;

/** The Java side of the hello-world figures: one line of output. */
public final class Hello {
    private Hello() {
    }

    public static void main(String[] args) {
        System.out.println("Hello, world");
    }
}
