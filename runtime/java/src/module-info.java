/** The Java side of launchers made with Morix: the class that the launcher calls to start the application. */
module com.morix.runtime {
    exports com.morix.runtime;
}
