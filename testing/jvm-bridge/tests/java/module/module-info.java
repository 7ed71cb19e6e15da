/** A named module for the module path and --patch-module checks of the bridge. */
module bridge.mod {
    exports com.morix.bridgecheck.module;
}
