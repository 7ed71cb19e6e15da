package com.morix.bridgecheck.module;

/** Reaches the module only through --patch-module. */
public class Patched {
}
