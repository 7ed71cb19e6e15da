package com.morix.runtime;

import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * The arguments that the native launcher passes to {@link WinLauncher#main(String[])}, by position:
 * <ol start="0">
 * <li>"true" when the launcher is a GUI program;</li>
 * <li>the application's main class, or "/", module name, "/", class when it lives in a named module;</li>
 * <li>the file for System.out (empty: no redirection);</li>
 * <li>the file for System.err (empty: no redirection);</li>
 * <li>"true" to append to those files instead of replacing them;</li>
 * <li>the launcher's first launch argument (its program path, or the service name in a service child);</li>
 * </ol>
 * and after them the application's own arguments. Missing positions read as empty or false.
 */
public final class LaunchArguments {
    static final int FIXED_COUNT = 6;

    private final boolean gui;
    private final String mainClass;
    private final String outputFile;
    private final String errorFile;
    private final boolean appendToFiles;
    private final String firstLaunchArgument;
    private final String[] applicationArguments;

    private LaunchArguments(String[] arguments) {
        gui = "true".equals(at(arguments, 0));
        mainClass = at(arguments, 1);
        outputFile = at(arguments, 2);
        errorFile = at(arguments, 3);
        appendToFiles = "true".equals(at(arguments, 4));
        firstLaunchArgument = at(arguments, 5);
        applicationArguments = arguments.length > FIXED_COUNT
                ? Arrays.copyOfRange(arguments, FIXED_COUNT, arguments.length)
                : new String[0];
    }

    /** Reads the launcher's argument array; a null element reads as empty. */
    public static LaunchArguments parse(String[] arguments) {
        return new LaunchArguments(arguments == null ? new String[0] : arguments);
    }

    private static String at(String[] arguments, int index) {
        return index < arguments.length && arguments[index] != null ? arguments[index] : "";
    }

    public boolean isGui() {
        return gui;
    }

    /** The main class exactly as the launcher wrote it (see {@link ApplicationMain}). */
    public String mainClass() {
        return mainClass;
    }

    public String outputFile() {
        return outputFile;
    }

    public String errorFile() {
        return errorFile;
    }

    public boolean appendToFiles() {
        return appendToFiles;
    }

    public String firstLaunchArgument() {
        return firstLaunchArgument;
    }

    /** True when the launcher named a file for System.out or System.err. */
    boolean redirectsOutput() {
        return !outputFile.isEmpty() || !errorFile.isEmpty();
    }

    public List<String> applicationArguments() {
        // Made on demand: the launch itself needs only the array.
        return Collections.unmodifiableList(Arrays.asList(applicationArguments.clone()));
    }

    /** The application's arguments as a new array, for its main. */
    String[] applicationArgumentArray() {
        return applicationArguments.clone();
    }
}
