package com.morix.runtime;

import com.morix.api.StopReason;
import java.nio.file.Path;

/**
 * The class whose static methods the native launcher calls once it has created the Java VM: optionally
 * {@link #initAwtSplashConfig}, then {@link #main(String[])}, which sets up the launch and calls the
 * application's main class.
 */
public final class WinLauncher {
    /** The launcher's own path; relative redirection files resolve against its directory. */
    static final String LAUNCHER_PATH_PROPERTY = "morix.moduleName";
    /** Set by the run command: output stays on the console. */
    static final String NO_REDIRECT_PROPERTY = "vantarock.noRedir";
    /** Set in the child process of the service host. */
    static final String SERVICE_PROPERTY = "morix.isService";

    private static volatile LaunchArguments launchArguments;
    private static volatile SplashConfig splashConfig;

    private WinLauncher() {
    }

    /**
     * Runs the application. The arguments are described in {@link LaunchArguments}; what the application's
     * main throws is thrown on, and the launcher ends with exit code 1 on it.
     */
    public static void main(String[] args) throws Throwable {
        LaunchArguments arguments = LaunchArguments.parse(args);
        ApplicationMain application = ApplicationMain.named(arguments.mainClass());
        launchArguments = arguments;
        // Every class loaded here delays the application's first line: no lambdas or proxies, and the file
        // system only for files to redirect to.
        if (!Boolean.getBoolean(NO_REDIRECT_PROPERTY) && arguments.redirectsOutput()) {
            OutputRedirection.apply(arguments, launcherDirectory());
        }
        if (Boolean.getBoolean(SERVICE_PROPERTY)) {
            StopLineWatcher.start(System.in, new ServiceStop());
        } else {
            ConsoleSignals.install();
        }
        application.run(arguments.applicationArgumentArray());
    }

    /** The service host's stop request: the stop sequence with exit code 0. */
    static final class ServiceStop implements Runnable {
        @Override
        public void run() {
            StopSequence.stop(StopReason.SERVICE_STOP, 0);
        }
    }

    /** Keeps the launcher's splash-screen text settings for the application (see {@link SplashConfig}). */
    public static void initAwtSplashConfig(boolean firstFlag, boolean secondFlag, String text1, int first1,
            int second1, String text2, int first2, int second2, String text3, int first3, int second3,
            String text4, int first4, int second4) {
        splashConfig = new SplashConfig(firstFlag, secondFlag, new SplashConfig.Text(text1, first1, second1),
                new SplashConfig.Text(text2, first2, second2), new SplashConfig.Text(text3, first3, second3),
                new SplashConfig.Text(text4, first4, second4));
    }

    /** The arguments of the current launch, or null before main was called. */
    public static LaunchArguments launchArguments() {
        return launchArguments;
    }

    /** The splash-screen text settings, or null when the launcher handed over none. */
    public static SplashConfig splashConfig() {
        return splashConfig;
    }

    static Path launcherDirectory() {
        String launcherPath = System.getProperty(LAUNCHER_PATH_PROPERTY, "");
        if (launcherPath.isEmpty()) {
            return null;
        }
        return HostPaths.get(launcherPath).toAbsolutePath().getParent();
    }
}
