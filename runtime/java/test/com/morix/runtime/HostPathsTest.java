package com.morix.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class HostPathsTest {
    @TempDir
    Path drives;

    @AfterEach
    void clearProperty() {
        System.clearProperty(HostPaths.DRIVES_PROPERTY);
    }

    @Test
    void withoutADriveDirectoryPathsAreTakenAsTheyAre() {
        assertEquals(Paths.get("/tmp/x.log"), HostPaths.get("/tmp/x.log"));
        assertEquals(Paths.get("C:\\x.log"), HostPaths.get("C:\\x.log"));
    }

    @Test
    void windowsPathsResolveThroughTheDriveDirectory() {
        System.setProperty(HostPaths.DRIVES_PROPERTY, drives.toString());
        assertEquals(drives.resolve("c:").resolve("apps/My App/app.exe"), HostPaths.get("C:\\apps\\My App\\app.exe"));
        assertEquals(drives.resolve("z:").resolve("tmp/x"), HostPaths.get("z:/tmp//x"));
        assertEquals(drives.resolve("d:"), HostPaths.get("D:\\"));
        assertEquals(Paths.get("logs/out.log"), HostPaths.get("logs\\out.log"));
    }
}
