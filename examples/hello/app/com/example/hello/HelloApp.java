package com.example.hello;

import com.example.greeting.Greeter;

/**
 * The demo application: greets the names it is given, shows a property from its .vmoptions file and its
 * class path, and ends with the exit code its .vmoptions file chooses.
 */
public final class HelloApp {
    private HelloApp() {
    }

    public static void main(String[] args) {
        System.out.println("Arguments: " + String.join(" ", args));
        for (String name : args) {
            System.out.println(Greeter.greet(name));
        }
        System.out.println("hello.greeting (from hello.vmoptions): " + System.getProperty("hello.greeting"));
        System.out.println("java.class.path: " + System.getProperty("java.class.path"));
        System.out.println("Java " + System.getProperty("java.version") + ", max heap "
                + Runtime.getRuntime().maxMemory() / (1024 * 1024) + " MB");
        System.exit(Integer.getInteger("hello.exitCode", 0));
    }
}
