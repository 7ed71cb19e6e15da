package com.morix.bench;

/**
 * The application of the class-count figure: the first thing its main does is to load the class
 * {@link Reached}, so in a class-load log the lines before that class's are the classes loaded before the
 * application's first line.
 */
public final class FirstLine {
    private FirstLine() {
    }

    public static void main(String[] args) {
        Reached.mark();
    }

    static final class Reached {
        private Reached() {
        }

        static void mark() {
            // Loading the class is the mark.
        }
    }
}
