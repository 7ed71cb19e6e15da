package com.morix.bridgecheck.module;

/** The main class of the named module: says where it runs and whether the patch reached the module. */
public class ModuleCheck {
    private ModuleCheck() {
    }

    public static void main(String[] args) {
        System.out.println("module " + ModuleCheck.class.getModule().getName());
        String patched;
        try {
            Class<?> type = Class.forName("com.morix.bridgecheck.module.Patched");
            patched = type.getModule().getName();
        } catch (ClassNotFoundException e) {
            patched = "missing";
        }
        System.out.println("patched class in " + patched);
    }
}
