package com.morix.maven;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import org.apache.maven.plugin.logging.SystemStreamLog;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

import java.io.File;
import java.nio.file.Files;

public class ToolsTest {
    @Rule
    public TemporaryFolder folder = new TemporaryFolder();

    /** A plugin built without one of the build trees would fail only in its users' builds. */
    @Test
    public void thePluginCarriesBothBuildersTheRuntimeJarAndBothTemplates() throws Exception {
        for (String tool : new String[] {"linux-x86_64/morix-build", "windows-x64/morix-build.exe",
                "morix-runtime.jar", "win32/morix-launcher.exe", "win64/morix-launcher.exe"}) {
            assertTrue(tool, Tools.resource(tool).length > 1000);
        }
    }

    @Test
    public void aCopyThatIsNotThePluginsOwnIsWrittenAgain() throws Exception {
        File target = new File(folder.getRoot(), "tools/win32/morix-launcher.exe");
        byte[] template = Tools.resource("win32/morix-launcher.exe");
        Tools.unpackOne("win32/morix-launcher.exe", target, false, new SystemStreamLog());
        assertArrayEquals(template, Files.readAllBytes(target.toPath()));

        Files.write(target.toPath(), "an older template".getBytes("UTF-8"));
        Tools.unpackOne("win32/morix-launcher.exe", target, false, new SystemStreamLog());
        assertArrayEquals(template, Files.readAllBytes(target.toPath()));
        assertTrue(!new File(target.getPath() + ".part").exists());

        File builder = Tools.unpackOne("linux-x86_64/morix-build", new File(folder.getRoot(), "morix-build"), true,
                new SystemStreamLog());
        assertTrue(builder.canExecute());
    }

    @Test
    public void theBuilderFollowsTheMachine() {
        assertEquals("linux-x86_64", Tools.platform("Linux", "amd64", null));
        assertEquals("windows-x64", Tools.platform("Windows 11", "amd64", null));
        assertEquals("windows-x64", Tools.platform("Windows 10", "x86", "AMD64")); // a 32-bit JVM on x64
        assertNull(Tools.platform("Windows 10", "x86", null));
        assertNull(Tools.platform("Linux", "aarch64", null));
        assertNull(Tools.platform("Mac OS X", "x86_64", null));
        assertEquals("morix-build.exe", Tools.builderName("windows-x64"));
    }
}
