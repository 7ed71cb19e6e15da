package com.morix.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.morix.api.Morix;
import com.morix.api.StopListener;
import java.util.Optional;
import org.junit.jupiter.api.Test;

/** The API outside a launcher (this test VM): no service, no paths, listeners that can be taken back. */
class MorixApiTest {
    @Test
    void outsideALauncherTheApplicationIsNoServiceAndHasNoPaths() {
        assertFalse(Morix.isService());
        assertEquals(Optional.empty(), Morix.serviceName());
        assertEquals(Optional.empty(), Morix.launcherPath());
        assertEquals(Optional.empty(), Morix.tempDirectory());
    }

    @Test
    void aListenerCanBeRemovedOnceAndNullIsRefused() {
        StopListener listener = reason -> {
        };
        Morix.addStopListener(listener);
        assertTrue(Morix.removeStopListener(listener));
        assertFalse(Morix.removeStopListener(listener));
        assertThrows(NullPointerException.class, () -> Morix.addStopListener(null));
    }
}
