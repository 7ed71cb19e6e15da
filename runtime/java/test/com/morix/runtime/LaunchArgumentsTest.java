package com.morix.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import java.util.Collections;
import org.junit.jupiter.api.Test;

class LaunchArgumentsTest {
    @Test
    void theSixFixedPositionsComeFirstAndTheApplicationsArgumentsFollow() {
        LaunchArguments a = LaunchArguments.parse(new String[] {"true", "com.x.Main", "out.log", "err.log", "true",
                "C:\\app\\app.exe", "a", "b c", ""});
        assertTrue(a.isGui());
        assertEquals("com.x.Main", a.mainClass());
        assertEquals("out.log", a.outputFile());
        assertEquals("err.log", a.errorFile());
        assertTrue(a.appendToFiles());
        assertEquals("C:\\app\\app.exe", a.firstLaunchArgument());
        assertEquals(Arrays.asList("a", "b c", ""), a.applicationArguments());
    }

    @Test
    void missingOrNullPositionsReadAsEmptyAndFalse() {
        LaunchArguments a = LaunchArguments.parse(new String[] {"false", "Main", null});
        assertFalse(a.isGui());
        assertEquals("", a.outputFile());
        assertEquals("", a.errorFile());
        assertFalse(a.appendToFiles());
        assertEquals("", a.firstLaunchArgument());
        assertEquals(Collections.emptyList(), a.applicationArguments());
        assertEquals("", LaunchArguments.parse(null).mainClass());
    }

    @Test
    void onlyTheExactTextTrueSetsAFlag() {
        LaunchArguments a = LaunchArguments.parse(new String[] {"TRUE", "Main", "", "", "yes", "p"});
        assertFalse(a.isGui());
        assertFalse(a.appendToFiles());
    }

    @Test
    void mainClassNamesSayWhereTheClassLives() {
        ApplicationMain plain = ApplicationMain.named("com.x.Main");
        assertNull(plain.module());
        assertEquals("com.x.Main", plain.className());

        ApplicationMain inModule = ApplicationMain.named("/app.mod/com.x.Main");
        assertEquals("app.mod", inModule.module());
        assertEquals("com.x.Main", inModule.className());

        ApplicationMain moduleOnly = ApplicationMain.named("/app.mod");
        assertEquals("app.mod", moduleOnly.module());
        assertNull(moduleOnly.className());

        for (String malformed : new String[] {"", "/", "//com.x.Main", "/app.mod/"}) {
            assertThrows(IllegalArgumentException.class, () -> ApplicationMain.named(malformed), malformed);
        }
    }
}
