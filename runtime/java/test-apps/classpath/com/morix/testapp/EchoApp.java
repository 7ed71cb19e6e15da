package com.morix.testapp;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;

/** An application for the runtime's tests: prints its arguments and does what they ask. */
public class EchoApp {
    public static void main(String[] args) throws Exception {
        System.out.println("args=" + String.join("|", args));
        System.err.println("err line");
        for (String argument : args) {
            switch (argument) {
            case "throw":
                throw new IllegalStateException("requested failure");
            case "hook":
                Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("shutdown hook ran")));
                break;
            case "stdin":
                System.out.println("stdin=" + readAll(System.in).trim());
                break;
            case "wait":
                System.out.println("waiting");
                Thread.sleep(60_000);
                System.out.println("wait over");
                break;
            default:
                break;
            }
        }
    }

    private static String readAll(InputStream in) throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        byte[] buffer = new byte[256];
        int n;
        while ((n = in.read(buffer)) > 0) {
            bytes.write(buffer, 0, n);
        }
        return new String(bytes.toByteArray(), StandardCharsets.UTF_8);
    }
}
