/**
 * The Java side of launchers made with Morix: the class that the launcher calls to start the application,
 * and the API that applications use ({@code com.morix.api}).
 */
module com.morix.runtime {
    exports com.morix.api;
    exports com.morix.runtime;
}
