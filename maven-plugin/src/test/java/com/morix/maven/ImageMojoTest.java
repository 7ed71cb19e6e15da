package com.morix.maven;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.fail;

import org.apache.maven.plugin.MojoFailureException;
import org.junit.Test;

public class ImageMojoTest {
    @Test
    public void theZipTakesTheTimeOfTheProjectsJar() throws Exception {
        assertEquals(Long.valueOf(1767225600L), ImageMojo.timestampSeconds("2026-01-01T00:00:00Z"));
        assertEquals(Long.valueOf(1767222000L), ImageMojo.timestampSeconds("2026-01-01T00:00:00+01:00"));
        assertEquals(Long.valueOf(1767225600L), ImageMojo.timestampSeconds("1767225600"));
        assertNull(ImageMojo.timestampSeconds(null));
        assertNull(ImageMojo.timestampSeconds("a")); // Maven's way of saying none
        try {
            ImageMojo.timestampSeconds("yesterday");
            fail();
        } catch (MojoFailureException e) {
            assertEquals("project.build.outputTimestamp 'yesterday' is neither an ISO 8601 time such as "
                    + "2026-01-01T00:00:00Z nor seconds since 1970", e.getMessage());
        }
    }

    @Test
    public void eachBitnessHasAClassifierOfItsOwn() {
        assertEquals("windows-x86", ImageMojo.defaultClassifier(32));
        assertEquals("windows-x64", ImageMojo.defaultClassifier(64));
    }

    @Test
    public void theBuildersFindingsKeepTheirWeight() {
        assertEquals(BuilderRun.Level.ERROR,
                BuilderRun.level("morix-build: /p/hello.toml:3:1: error: application.x: unknown key", 2));
        assertEquals(BuilderRun.Level.WARNING,
                BuilderRun.level("morix-build: /p/hello.toml: warning: application.class_path: lib/a.jar", 0));
        assertEquals(BuilderRun.Level.ERROR, BuilderRun.level("morix-build: /p/t.exe: cannot read the file", 2));
        assertEquals(BuilderRun.Level.INFO, BuilderRun.level("wrote /p/target/hello (5 files)", 0));
    }
}
