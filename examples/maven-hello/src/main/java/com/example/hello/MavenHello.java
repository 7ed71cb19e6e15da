package com.example.hello;

import org.apache.commons.lang3.StringUtils;

import java.io.File;

/**
 * Greets its arguments with commons-lang3 (with the greeting that hello.vmoptions beside the launcher
 * sets), and says where that library was loaded from.
 */
public final class MavenHello {
    private MavenHello() {
    }

    public static void main(String[] args) throws Exception {
        String names = args.length == 0 ? "World" : StringUtils.join(args, " and ");
        String greeting = System.getProperty("hello.greeting", "Hello");
        System.out.println(greeting + ", " + StringUtils.capitalize(names) + "!");
        File library = new File(StringUtils.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        System.out.println("commons-lang3 from " + library.getParentFile().getName() + "/" + library.getName());
    }
}
