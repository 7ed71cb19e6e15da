package com.morix.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.BufferedReader;
import java.io.DataInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Collections;
import java.util.List;
import java.util.jar.JarFile;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** WinLauncher in child VMs, started with the arguments and properties that the launcher uses. */
class WinLauncherTest {
    private static final String ECHO = "com.morix.testapp.EchoApp";

    @TempDir
    Path dir;

    private static String[] launch(String mainClass, String out, String err, boolean append, String... appArgs) {
        String[] fixed = {"false", mainClass, out, err, Boolean.toString(append), "C:\\apps\\app.exe"};
        String[] all = new String[fixed.length + appArgs.length];
        System.arraycopy(fixed, 0, all, 0, fixed.length);
        System.arraycopy(appArgs, 0, all, fixed.length, appArgs.length);
        return all;
    }

    @Test
    void theApplicationGetsOnlyTheArgumentsAfterTheFixedOnes() throws Exception {
        ChildJvm child = ChildJvm.start(ChildJvm.classPathOptions(), launch(ECHO, "", "", false, "a", "b c", ""));
        assertEquals(0, child.waitFor(), child.errors());
        assertEquals("args=a|b c|\n", child.output());
        assertEquals("err line\n", child.errors());
    }

    @Test
    void anExceptionFromTheApplicationsMainPropagatesUnwrapped() throws Exception {
        ChildJvm child = ChildJvm.start(ChildJvm.classPathOptions(), launch(ECHO, "", "", false, "throw"));
        assertEquals(1, child.waitFor());
        String errors = child.errors();
        assertTrue(errors.contains("Exception in thread \"main\" java.lang.IllegalStateException: requested failure"),
                errors);
        assertTrue(errors.contains("at com.morix.testapp.EchoApp.main("), errors);
        assertFalse(errors.contains("InvocationTargetException"), errors);
    }

    @Test
    void aMainClassThatIsNotPublicRunsAsWithTheJavaCommand() throws Exception {
        ChildJvm child = ChildJvm.start(ChildJvm.classPathOptions(),
                launch("com.morix.testapp.HiddenMain", "", "", false));
        assertEquals(0, child.waitFor(), child.errors());
        assertEquals("hidden main ran\n", child.output());
    }

    @Test
    void aMissingMainClassEndsWithClassNotFound() throws Exception {
        ChildJvm child = ChildJvm.start(ChildJvm.classPathOptions(), launch("com.x.Missing", "", "", false));
        assertEquals(1, child.waitFor());
        assertTrue(child.errors().contains("java.lang.ClassNotFoundException: com.x.Missing"), child.errors());
        // The user's line comes first and names the class and the entries looked in.
        String first = child.errors().split("\n", 2)[0];
        assertTrue(first.startsWith("The main class com.x.Missing was not found. The class path was: "), first);
        assertTrue(first.contains(ChildJvm.RUNTIME_JAR + ", "), first);
    }

    @Test
    void redirectionFilesResolveAgainstTheLaunchersDirectoryAndAppendWhenAsked() throws Exception {
        List<String> options = ChildJvm.classPathOptions();
        options.add("-Dmorix.moduleName=" + dir.resolve("app.exe"));
        Files.write(dir.resolve("out.log"), "before\n".getBytes(StandardCharsets.UTF_8));

        ChildJvm replace = ChildJvm.start(options, launch(ECHO, "out.log", "logs/err.log", false, "one"));
        assertEquals(0, replace.waitFor(), replace.errors());
        assertEquals("", replace.output());
        assertEquals("args=one\n", read(dir.resolve("out.log")));
        assertEquals("err line\n", read(dir.resolve("logs").resolve("err.log")));

        ChildJvm append = ChildJvm.start(options, launch(ECHO, "out.log", "logs/err.log", true, "two"));
        assertEquals(0, append.waitFor(), append.errors());
        assertEquals("args=one\nargs=two\n", read(dir.resolve("out.log")));
        assertEquals("err line\nerr line\n", read(dir.resolve("logs").resolve("err.log")));
    }

    @Test
    void theRunCommandsNoRedirectPropertyKeepsOutputOnTheConsole() throws Exception {
        List<String> options = ChildJvm.classPathOptions();
        options.add("-Dmorix.moduleName=" + dir.resolve("app.exe"));
        options.add("-Dvantarock.noRedir=true");
        ChildJvm child = ChildJvm.start(options, launch(ECHO, "out.log", "err.log", false, "x"));
        assertEquals(0, child.waitFor(), child.errors());
        assertEquals("args=x\n", child.output());
        assertFalse(Files.exists(dir.resolve("out.log")));
        assertFalse(Files.exists(dir.resolve("err.log")));
    }

    @Test
    void aMainClassInANamedModuleRunsFromTheBootLayer() throws Exception {
        ChildJvm named = ChildJvm.start(ChildJvm.modulePathOptions(),
                launch("/app.mod/com.morix.testapp.module.ModuleApp", "", "", false, "m"));
        assertEquals(0, named.waitFor(), named.errors());
        assertEquals("module=app.mod args=m\n", named.output());

        ChildJvm declared = ChildJvm.start(ChildJvm.modulePathOptions(), launch("/app.mod", "", "", false, "d"));
        assertEquals(0, declared.waitFor(), declared.errors());
        assertEquals("module=app.mod args=d\n", declared.output());

        ChildJvm missing = ChildJvm.start(ChildJvm.modulePathOptions(), launch("/no.such.mod/x.Main", "", "", false));
        assertEquals(1, missing.waitFor());
        assertTrue(missing.errors().contains("module no.such.mod is not in the boot layer"), missing.errors());
    }

    @Test
    void theServiceHostsStopLineRunsShutdownHooksAndExitsWithZero() throws Exception {
        List<String> options = ChildJvm.classPathOptions();
        options.add("-Dmorix.isService=true");
        ChildJvm child = ChildJvm.start(options, launch(ECHO, "", "", false, "hook", "wait"));
        BufferedReader lines = new BufferedReader(new InputStreamReader(child.process.getInputStream(),
                StandardCharsets.UTF_8));
        assertEquals("args=hook|wait", lines.readLine());
        assertEquals("waiting", lines.readLine());
        try (OutputStream stdin = child.process.getOutputStream()) {
            stdin.write("0\n".getBytes(StandardCharsets.US_ASCII));
        }
        assertEquals(0, child.waitFor());
        assertEquals("shutdown hook ran", lines.readLine());
        assertEquals(null, lines.readLine());
    }

    @Test
    void aServiceChildWhoseInputEndsStopsToo() throws Exception {
        List<String> options = ChildJvm.classPathOptions();
        options.add("-Dmorix.isService=true");
        ChildJvm child = ChildJvm.start(options, launch(ECHO, "", "", false, "hook", "wait"));
        BufferedReader lines = new BufferedReader(new InputStreamReader(child.process.getInputStream(),
                StandardCharsets.UTF_8));
        assertEquals("args=hook|wait", lines.readLine());
        assertEquals("waiting", lines.readLine());
        child.process.getOutputStream().close();
        assertEquals(0, child.waitFor());
        assertEquals("shutdown hook ran", lines.readLine());
    }

    @Test
    void outsideTheServiceStandardInputBelongsToTheApplication() throws Exception {
        ChildJvm child = ChildJvm.start(ChildJvm.classPathOptions(), launch(ECHO, "", "", false, "stdin"));
        try (OutputStream stdin = child.process.getOutputStream()) {
            stdin.write("0\n".getBytes(StandardCharsets.US_ASCII));
        }
        assertEquals(0, child.waitFor(), child.errors());
        assertEquals("args=stdin\nstdin=0\n", child.output());
    }

    @Test
    void splashSettingsAreKeptInTheLaunchersOrder() {
        WinLauncher.initAwtSplashConfig(true, false, "Version 1", 1, 2, "Loading", 3, 4, null, 5, 6, "", 7, 8);
        SplashConfig config = WinLauncher.splashConfig();
        assertTrue(config.firstFlag());
        assertFalse(config.secondFlag());
        assertEquals(4, config.texts().size());
        assertEquals("Version 1", config.texts().get(0).text());
        assertEquals(2, config.texts().get(0).second());
        assertEquals("", config.texts().get(2).text());
        assertEquals(7, config.texts().get(3).first());
    }

    @Test
    void theClassesRunOnJava8AndTheJarIsANamedModuleOnJava9AndLater() throws IOException {
        try (JarFile jar = new JarFile(ChildJvm.RUNTIME_JAR)) {
            for (String name : Collections.list(jar.entries()).stream().map(e -> e.getName())
                    .filter(n -> n.endsWith(".class")).toArray(String[]::new)) {
                int expected = name.equals("module-info.class") ? 53 : 52;
                try (InputStream in = jar.getInputStream(jar.getEntry(name))) {
                    DataInputStream data = new DataInputStream(in);
                    data.readInt();
                    data.readUnsignedShort();
                    assertEquals(expected, data.readUnsignedShort(), name);
                }
            }
            assertTrue(jar.getEntry("module-info.class") != null);
        }
    }

    private static String read(Path file) throws IOException {
        return new String(Files.readAllBytes(file), StandardCharsets.UTF_8).replace("\r\n", "\n");
    }
}
