package com.morix.testapp;

/** A main class that is not public: the java launcher runs it, so the runtime must too. */
class HiddenMain {
    public static void main(String[] args) {
        System.out.println("hidden main ran");
    }
}
