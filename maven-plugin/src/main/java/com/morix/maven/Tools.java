package com.morix.maven;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugin.logging.Log;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Arrays;
import java.util.Locale;

/**
 * The programs that the plugin carries in its own jar, unpacked below the build directory: morix-build
 * for this machine, morix-runtime.jar beside it (where the builder looks for it), and the launcher
 * template of the bitness asked for. A copy already there is used only when its SHA-256 equals that of
 * the plugin's own; any other (from another plugin version, or damaged) is written again and checked.
 */
final class Tools {
    static final String RESOURCES = "com/morix/maven/tools/";
    static final String RUNTIME_JAR = "morix-runtime.jar";

    final File builder;
    final File runtimeJar;
    final File template;

    private Tools(File builder, File runtimeJar, File template) {
        this.builder = builder;
        this.runtimeJar = runtimeJar;
        this.template = template;
    }

    /** The resource folder of the builder for a machine, or null where the plugin carries none. */
    static String platform(String osName, String osArch, String processorArchitectureOfWow64) {
        String os = osName.toLowerCase(Locale.ROOT);
        String arch = osArch.toLowerCase(Locale.ROOT);
        boolean x64 = arch.equals("amd64") || arch.equals("x86_64");
        if (os.startsWith("linux") && x64) {
            return "linux-x86_64";
        }
        // A 32-bit JVM on 64-bit Windows reports x86; the 64-bit builder runs there all the same.
        if (os.startsWith("windows") && (x64 || "AMD64".equalsIgnoreCase(processorArchitectureOfWow64))) {
            return "windows-x64";
        }
        return null;
    }

    static String builderName(String platform) {
        return platform.startsWith("windows") ? "morix-build.exe" : "morix-build";
    }

    static Tools unpack(File directory, int bits, File givenBuilder, Log log)
            throws MojoExecutionException, MojoFailureException {
        File builder = givenBuilder;
        if (builder == null) {
            String platform = platform(System.getProperty("os.name"), System.getProperty("os.arch"),
                    System.getenv("PROCESSOR_ARCHITEW6432"));
            if (platform == null) {
                throw new MojoFailureException("morix-maven-plugin carries morix-build for Linux x86_64 and "
                        + "Windows x64, and this machine is " + System.getProperty("os.name") + " "
                        + System.getProperty("os.arch") + ": build morix-build for it from the Morix sources "
                        + "and give it with <builder> (or -Dmorix.builder=PATH)");
            }
            String name = builderName(platform);
            builder = unpackOne(platform + "/" + name, new File(directory, name), true, log);
        } else if (!givenBuilder.isFile()) {
            throw new MojoFailureException("the builder " + givenBuilder + " (<builder>) is not a file");
        }
        File runtimeJar = unpackOne(RUNTIME_JAR, new File(directory, RUNTIME_JAR), false, log);
        String template = "win" + bits + "/morix-launcher.exe";
        return new Tools(builder, runtimeJar, unpackOne(template, new File(directory, template), false, log));
    }

    static File unpackOne(String resource, File target, boolean executable, Log log)
            throws MojoExecutionException {
        byte[] content = resource(resource);
        byte[] expected = sha256(content);
        try {
            if (!target.isFile() || !Arrays.equals(sha256(Files.readAllBytes(target.toPath())), expected)) {
                Files.createDirectories(target.getParentFile().toPath());
                File part = new File(target.getPath() + ".part");
                Files.write(part.toPath(), content);
                if (!Arrays.equals(sha256(Files.readAllBytes(part.toPath())), expected)) {
                    throw new MojoExecutionException(part + " does not hold what was written to it");
                }
                Files.move(part.toPath(), target.toPath(), StandardCopyOption.REPLACE_EXISTING);
                if (log.isDebugEnabled()) {
                    log.debug("unpacked " + target);
                }
            }
            if (executable && !target.canExecute() && !target.setExecutable(true)) {
                throw new MojoExecutionException("cannot make " + target + " executable");
            }
        } catch (IOException e) {
            throw new MojoExecutionException("cannot unpack " + target + ": " + e.getMessage(), e);
        }
        return target;
    }

    static byte[] resource(String name) throws MojoExecutionException {
        try (InputStream in = Tools.class.getClassLoader().getResourceAsStream(RESOURCES + name)) {
            if (in == null) {
                throw new MojoExecutionException("this morix-maven-plugin was built without " + name
                        + ": build the host, win32 and win64 presets of Morix before installing the plugin");
            }
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            byte[] buffer = new byte[1 << 16];
            for (int n; (n = in.read(buffer)) > 0; ) {
                out.write(buffer, 0, n);
            }
            return out.toByteArray();
        } catch (IOException e) {
            throw new MojoExecutionException("cannot read " + name + " from the plugin: " + e.getMessage(), e);
        }
    }

    static byte[] sha256(byte[] content) {
        try {
            return MessageDigest.getInstance("SHA-256").digest(content);
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java runtime has SHA-256", e);
        }
    }
}
