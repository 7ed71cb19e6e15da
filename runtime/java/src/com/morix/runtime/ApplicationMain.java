package com.morix.runtime;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Optional;

/**
 * The application's main class as the launcher names it, and the call of its {@code main(String[])}. The
 * launcher names a class on the class path ("com.x.Main"), or a class in a named module as "/", module
 * name, "/", class ("/app.mod/com.x.Main"); "/app.mod" alone names the module and leaves the class to the
 * module's own descriptor, as "java -m app.mod" does. The module APIs are reached through reflection,
 * because these classes are compiled for Java 8, where they do not exist.
 */
final class ApplicationMain {
    private final String module;
    private final String className;

    private ApplicationMain(String module, String className) {
        this.module = module;
        this.className = className;
    }

    /** Reads the launcher's main class text; a malformed one is refused before anything runs. */
    static ApplicationMain named(String text) {
        if (text == null || text.isEmpty()) {
            throw new IllegalArgumentException("the launcher named no main class");
        }
        if (!text.startsWith("/")) {
            return new ApplicationMain(null, text);
        }
        String rest = text.substring(1);
        int slash = rest.indexOf('/');
        String module = slash < 0 ? rest : rest.substring(0, slash);
        String className = slash < 0 ? null : rest.substring(slash + 1);
        if (module.isEmpty() || (className != null && className.isEmpty())) {
            throw new IllegalArgumentException("malformed main class of a named module: " + text);
        }
        return new ApplicationMain(module, className);
    }

    /** The module name, or null for a class on the class path. */
    String module() {
        return module;
    }

    /** The binary class name, or null when the module's descriptor names the main class. */
    String className() {
        return className;
    }

    /**
     * Calls the application's main; whatever the application throws is thrown on unchanged. A main class
     * that is not there is explained on the error output and thrown as {@link MissingMainClass}.
     */
    void run(String[] arguments) throws Throwable {
        Class<?> type;
        try {
            type = load();
        } catch (ClassNotFoundException e) {
            throw MissingMainClass.explained(missingExplanation(e), e);
        }
        Method main = findMain(type);
        try {
            main.invoke(null, (Object) arguments);
        } catch (InvocationTargetException e) {
            throw e.getCause() != null ? e.getCause() : e;
        }
    }

    /** Which class was not found and the path entries the runtime looked in, in one line. */
    String missingExplanation(ClassNotFoundException e) {
        if (module == null) {
            return "The main class " + className + " was not found. The class path was: "
                    + pathEntries("java.class.path") + ".";
        }
        String what = className != null ? className + " of module " + module : "of module " + module;
        return "The main class " + what + " was not found (" + e.getMessage() + "). The module path was: "
                + pathEntries("jdk.module.path") + ".";
    }

    private static String pathEntries(String property) {
        String path = System.getProperty(property, "");
        if (path.isEmpty()) {
            return "(empty)";
        }
        StringBuilder entries = new StringBuilder();
        for (String entry : path.split(java.io.File.pathSeparator)) {
            if (!entry.isEmpty()) {
                entries.append(entries.length() == 0 ? "" : ", ").append(entry);
            }
        }
        return entries.toString();
    }

    Class<?> load() throws ReflectiveOperationException {
        if (module == null) {
            return Class.forName(className, false, ClassLoader.getSystemClassLoader());
        }
        return loadFromModule(module, className);
    }

    private static Class<?> loadFromModule(String moduleName, String className)
            throws ReflectiveOperationException {
        Class<?> layerType;
        Class<?> moduleType;
        try {
            layerType = Class.forName("java.lang.ModuleLayer");
            moduleType = Class.forName("java.lang.Module");
        } catch (ClassNotFoundException e) {
            throw new ClassNotFoundException("the main class lives in module " + moduleName
                    + ", and named modules need Java 9 or later");
        }
        Object bootLayer = layerType.getMethod("boot").invoke(null);
        Optional<?> module = (Optional<?>) layerType.getMethod("findModule", String.class).invoke(bootLayer,
                moduleName);
        if (!module.isPresent()) {
            throw new ClassNotFoundException("module " + moduleName + " is not in the boot layer");
        }
        String mainClass = className != null ? className : declaredMainClass(moduleType, module.get());
        Class<?> loaded = (Class<?>) Class.class.getMethod("forName", moduleType, String.class).invoke(null,
                module.get(), mainClass);
        if (loaded == null) {
            throw new ClassNotFoundException(mainClass + " in module " + moduleName);
        }
        return loaded;
    }

    private static String declaredMainClass(Class<?> moduleType, Object module)
            throws ReflectiveOperationException {
        Object descriptor = moduleType.getMethod("getDescriptor").invoke(module);
        String moduleName = (String) moduleType.getMethod("getName").invoke(module);
        if (descriptor == null) {
            throw new ClassNotFoundException("module " + moduleName + " has no descriptor naming a main class");
        }
        Optional<?> mainClass = (Optional<?>) descriptor.getClass().getMethod("mainClass").invoke(descriptor);
        if (!mainClass.isPresent()) {
            throw new ClassNotFoundException("module " + moduleName + " declares no main class");
        }
        return (String) mainClass.get();
    }

    static Method findMain(Class<?> type) throws NoSuchMethodException {
        Method main = type.getMethod("main", String[].class);
        if (!Modifier.isStatic(main.getModifiers()) || !returnsVoid(main)) {
            throw new NoSuchMethodException("main of " + type.getName() + " must be static and return void");
        }
        try {
            // A main class that is not public, or a package that its module opens only to this runtime.
            main.setAccessible(true);
        } catch (RuntimeException e) {
            // Not allowed here: the call below succeeds anyway when the package is exported.
        }
        return main;
    }

    // void.class would load java.lang.Void for this one comparison, before the application's first line.
    private static boolean returnsVoid(Method method) {
        Class<?> type = method.getReturnType();
        return type.isPrimitive() && type.getName().equals("void");
    }
}
