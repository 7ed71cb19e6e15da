package com.morix.api;

import com.morix.runtime.HostPaths;
import com.morix.runtime.LaunchArguments;
import com.morix.runtime.StopSequence;
import com.morix.runtime.WinLauncher;
import java.nio.file.Path;
import java.util.Optional;

/** The launcher that started this application, as the application sees it. */
public final class Morix {
    private Morix() {
    }

    /** True when the application runs as a Windows service (in the service host's child process). */
    public static boolean isService() {
        return Boolean.getBoolean("morix.isService");
    }

    /** The name of the service the application runs as; empty when it is no service. */
    public static Optional<String> serviceName() {
        LaunchArguments arguments = WinLauncher.launchArguments();
        if (!isService() || arguments == null || arguments.firstLaunchArgument().isEmpty()) {
            return Optional.empty();
        }
        return Optional.of(arguments.firstLaunchArgument());
    }

    /** The launcher's executable; empty when the application was not started by a launcher. */
    public static Optional<Path> launcherPath() {
        return pathProperty("morix.moduleName");
    }

    /**
     * The launcher's temporary directory, which holds the files included in the launcher; empty when the
     * launcher includes none. The application may put files of its own there: the launcher removes the
     * directory with everything in it when the process ends.
     */
    public static Optional<Path> tempDirectory() {
        return pathProperty("morix.tempDir");
    }

    /**
     * Adds a listener for stop requests: a service stop, or a console close (see {@link StopReason}).
     * From the request on, the stop has a time limit, the system property {@code morix.stopTimeout} in
     * whole seconds (20 by default). Listeners and shutdown hooks that are still running when it has passed
     * are written to the error output with the stacks of all threads, and the Java VM is halted with exit
     * code {@value StopSequence#HALT_EXIT_CODE}.
     */
    public static void addStopListener(StopListener listener) {
        StopSequence.addListener(listener);
    }

    /** Removes a listener; true when it had been added. */
    public static boolean removeStopListener(StopListener listener) {
        return StopSequence.removeListener(listener);
    }

    private static Optional<Path> pathProperty(String name) {
        String value = System.getProperty(name, "");
        return value.isEmpty() ? Optional.empty() : Optional.of(HostPaths.get(value).toAbsolutePath());
    }
}
