package com.example.hello;

import org.apache.commons.lang3.StringUtils;

import java.io.File;

/** Greets its arguments with commons-lang3, and says where that library was loaded from. */
public final class MavenHello {
    private MavenHello() {
    }

    public static void main(String[] args) throws Exception {
        String names = args.length == 0 ? "World" : StringUtils.join(args, " and ");
        System.out.println("Hello, " + StringUtils.capitalize(names) + "!");
        File library = new File(StringUtils.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        System.out.println("commons-lang3 from " + library.getParentFile().getName() + "/" + library.getName());
    }
}
