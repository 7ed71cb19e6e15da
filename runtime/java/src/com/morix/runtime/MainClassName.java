package com.morix.runtime;

/**
 * The application's main class as the launcher names it: a class on the class path ("com.x.Main"), or a
 * class in a named module written as "/", module name, "/", class ("/app.mod/com.x.Main"). "/app.mod"
 * alone names the module and leaves the class to the module's own descriptor, as "java -m app.mod" does.
 */
final class MainClassName {
    private final String module;
    private final String className;

    private MainClassName(String module, String className) {
        this.module = module;
        this.className = className;
    }

    static MainClassName parse(String text) {
        if (text == null || text.isEmpty()) {
            throw new IllegalArgumentException("the launcher named no main class");
        }
        if (!text.startsWith("/")) {
            return new MainClassName(null, text);
        }
        String rest = text.substring(1);
        int slash = rest.indexOf('/');
        String module = slash < 0 ? rest : rest.substring(0, slash);
        String className = slash < 0 ? null : rest.substring(slash + 1);
        if (module.isEmpty() || (className != null && className.isEmpty())) {
            throw new IllegalArgumentException("malformed main class of a named module: " + text);
        }
        return new MainClassName(module, className);
    }

    /** The module name, or null for a class on the class path. */
    String module() {
        return module;
    }

    /** The binary class name, or null when the module's descriptor names the main class. */
    String className() {
        return className;
    }
}
