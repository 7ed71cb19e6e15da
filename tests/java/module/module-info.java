module app.mod {
    requires com.morix.runtime;
}
