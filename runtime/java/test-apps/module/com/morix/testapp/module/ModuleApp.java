package com.morix.testapp.module;

/** The main class of a named module. */
public class ModuleApp {
    public static void main(String[] args) {
        System.out.println("module=" + ModuleApp.class.getModule().getName() + " args=" + String.join("|", args));
    }
}
