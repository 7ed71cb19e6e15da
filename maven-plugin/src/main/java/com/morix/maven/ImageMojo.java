package com.morix.maven;

import org.apache.maven.artifact.Artifact;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.Component;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;
import org.apache.maven.project.MavenProject;
import org.apache.maven.project.MavenProjectHelper;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.OffsetDateTime;
import java.time.format.DateTimeParseException;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * Makes the Windows application image of the project: a folder with the launcher, the project's jar and
 * its runtime dependencies in lib/, optionally a Java runtime, and a zip of the folder, attached to the
 * build. The launcher configuration is the project's TOML file; what the POM knows fills what it leaves
 * open: the main class, the version, the class path.
 */
@Mojo(name = "image", defaultPhase = LifecyclePhase.PACKAGE, requiresDependencyResolution = ResolutionScope.RUNTIME,
        threadSafe = true)
public class ImageMojo extends AbstractMojo {
    /** The launcher configuration (every key: docs/configuration.md of Morix). */
    @Parameter(property = "morix.config", defaultValue = "${project.basedir}/src/main/morix/${project.artifactId}.toml")
    File config;

    /** The application's main class, unless the configuration sets application.main_class. */
    @Parameter(property = "morix.mainClass")
    String mainClass;

    /** 32 (the default) for the 32-bit launcher, 64 for the 64-bit one. */
    @Parameter(property = "morix.bits", defaultValue = "32")
    int bits;

    /** A Java runtime home to bundle; it is copied to the first directory of runtime.search. */
    @Parameter(property = "morix.runtime")
    File runtime;

    /** The launcher's name without .exe. */
    @Parameter(property = "morix.launcherName", defaultValue = "${project.artifactId}")
    String launcherName;

    /** The zip's classifier; by default windows-x86 for 32 bits and windows-x64 for 64 bits. */
    @Parameter(property = "morix.classifier")
    String classifier;

    /** Where the image folder and its zip are written. */
    @Parameter(property = "morix.outputDirectory", defaultValue = "${project.build.directory}")
    File outputDirectory;

    /** Files copied into the image as they are laid out below this directory, when it exists. */
    @Parameter(property = "morix.imageFiles", defaultValue = "${project.basedir}/src/main/morix/image")
    File imageFiles;

    /** Attach the zip to the build, so that install and deploy take it along. */
    @Parameter(property = "morix.attach", defaultValue = "true")
    boolean attach;

    /** Skip the goal. */
    @Parameter(property = "morix.skip", defaultValue = "false")
    boolean skip;

    /** A morix-build to run instead of the one the plugin carries (needed on other machines than Linux x86_64 and Windows x64). */
    @Parameter(property = "morix.builder")
    File builder;

    /** How long morix-build may run, in seconds. */
    @Parameter(property = "morix.timeout", defaultValue = "600")
    int timeout;

    /** The time of the zip's entries, as for the project's jar: ISO 8601 or seconds since 1970. */
    @Parameter(defaultValue = "${project.build.outputTimestamp}")
    String outputTimestamp;

    @Parameter(defaultValue = "${project}", readonly = true, required = true)
    MavenProject project;

    @Component
    MavenProjectHelper projectHelper;

    @Override
    public void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("skipped (morix.skip)");
            return;
        }
        if (bits != 32 && bits != 64) {
            throw new MojoFailureException("<bits> is " + bits + "; the launcher is 32-bit or 64-bit");
        }
        if (!config.isFile()) {
            throw new MojoFailureException("there is no launcher configuration " + config
                    + ": write one (morix-build init writes a starter) or set <config>");
        }
        String zipClassifier = classifier != null ? classifier : defaultClassifier(bits);
        File image = new File(outputDirectory, project.getBuild().getFinalName() + "-" + zipClassifier);
        File zip = new File(image.getPath() + ".zip");
        Tools tools = Tools.unpack(new File(project.getBuild().getDirectory(), "morix-tools"), bits, builder, getLog());

        List<String> command = new ArrayList<>();
        command.add(tools.builder.getPath());
        Collections.addAll(command, "image", "--template", tools.template.getPath(), "--config", config.getPath(),
                "-o", image.getPath(), "--zip", zip.getPath(), "--name", launcherName,
                "--runtime-jar", tools.runtimeJar.getPath(), "--version", project.getVersion());
        if (mainClass != null && !mainClass.isEmpty()) {
            Collections.addAll(command, "--main-class", mainClass);
        }
        for (String lib : libraries()) {
            Collections.addAll(command, "--lib", lib);
        }
        for (String file : imageFiles()) {
            Collections.addAll(command, "--file", file);
        }
        if (runtime != null) {
            Collections.addAll(command, "--runtime", runtime.getPath());
        }
        Long seconds = timestampSeconds(outputTimestamp);
        if (seconds != null) {
            Collections.addAll(command, "--timestamp", Long.toString(seconds));
        }
        BuilderRun.run(command, timeout, getLog());
        if (attach) {
            projectHelper.attachArtifact(project, "zip", zipClassifier, zip);
        }
    }

    static String defaultClassifier(int bits) {
        return bits == 64 ? "windows-x64" : "windows-x86";
    }

    /**
     * The project's jar and its runtime dependencies as "NAME=FILE" for lib/, in class path order. Two files
     * of one name (from different groups) are told apart by their group id.
     */
    List<String> libraries() throws MojoFailureException {
        List<Artifact> archives = new ArrayList<>();
        archives.add(project.getArtifact());
        for (Artifact artifact : project.getArtifacts()) {
            if (artifact.getArtifactHandler().isAddedToClasspath()) {
                archives.add(artifact);
            }
        }
        Map<String, Integer> uses = new HashMap<>();
        for (Artifact artifact : archives) {
            File file = artifact.getFile();
            if (file == null || !file.isFile()) {
                throw new MojoFailureException(artifact == project.getArtifact()
                        ? "the project's jar is not there yet (" + file + "): the goal runs in the package phase, "
                                + "after the jar is made"
                        : "the dependency " + artifact + " is not a file (" + file + "); run the build to package");
            }
            uses.merge(file.getName(), 1, Integer::sum);
        }
        List<String> libs = new ArrayList<>();
        for (Artifact artifact : archives) {
            String name = artifact.getFile().getName();
            libs.add((uses.get(name) > 1 ? artifact.getGroupId() + "-" + name : name) + "=" + artifact.getFile().getPath());
        }
        return libs;
    }

    /** The files below imageFiles as "NAME=FILE", NAME relative to the image, in name order. */
    List<String> imageFiles() throws MojoExecutionException {
        if (imageFiles == null || !imageFiles.isDirectory()) {
            return new ArrayList<>();
        }
        Path root = imageFiles.toPath();
        try (Stream<Path> walk = Files.walk(root)) {
            return walk.filter(Files::isRegularFile).sorted()
                    .map(p -> root.relativize(p).toString().replace(File.separatorChar, '/') + "=" + p)
                    .collect(Collectors.toList());
        } catch (IOException e) {
            throw new MojoExecutionException("cannot read " + imageFiles + ": " + e.getMessage(), e);
        }
    }

    /** Seconds since 1970 for an output timestamp as Maven writes it; null when none is set. */
    static Long timestampSeconds(String timestamp) throws MojoFailureException {
        // Maven takes a single character (or nothing) as "no timestamp".
        if (timestamp == null || timestamp.length() < 2) {
            return null;
        }
        try {
            if (timestamp.chars().allMatch(Character::isDigit)) {
                return Long.parseLong(timestamp);
            }
            return OffsetDateTime.parse(timestamp).toEpochSecond();
        } catch (NumberFormatException | DateTimeParseException e) {
            throw new MojoFailureException("project.build.outputTimestamp '" + timestamp
                    + "' is neither an ISO 8601 time such as 2026-01-01T00:00:00Z nor seconds since 1970");
        }
    }
}
