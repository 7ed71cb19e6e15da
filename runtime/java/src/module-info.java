/**
 * The Java side of launchers made with Morix: the class that the launcher calls to start the application,
 * and the API that applications use ({@code com.morix.api}).
 */
module com.morix.runtime {
    // The console close handler's sun.misc.Signal, where the runtime has it; without it the VM's
    // default handler stays.
    requires static jdk.unsupported;

    exports com.morix.api;
    exports com.morix.runtime;
}
