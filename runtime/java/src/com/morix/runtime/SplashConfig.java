package com.morix.runtime;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * The splash-screen text settings that the launcher hands over before main: two flags and four texts,
 * each with two integers, in the order of {@link WinLauncher#initAwtSplashConfig}. They are kept for the
 * application; the runtime shows no window of its own.
 */
public final class SplashConfig {
    /** One text of the settings with the two integers that the launcher passes after it. */
    public static final class Text {
        private final String text;
        private final int first;
        private final int second;

        Text(String text, int first, int second) {
            this.text = text == null ? "" : text;
            this.first = first;
            this.second = second;
        }

        public String text() {
            return text;
        }

        public int first() {
            return first;
        }

        public int second() {
            return second;
        }
    }

    private final boolean firstFlag;
    private final boolean secondFlag;
    private final List<Text> texts;

    SplashConfig(boolean firstFlag, boolean secondFlag, Text... texts) {
        this.firstFlag = firstFlag;
        this.secondFlag = secondFlag;
        List<Text> list = new ArrayList<>();
        Collections.addAll(list, texts);
        this.texts = Collections.unmodifiableList(list);
    }

    /** The first flag; the launcher always passes true. */
    public boolean firstFlag() {
        return firstFlag;
    }

    /** The second flag, from the launcher's configuration. */
    public boolean secondFlag() {
        return secondFlag;
    }

    /** The four texts in the launcher's order. */
    public List<Text> texts() {
        return texts;
    }
}
