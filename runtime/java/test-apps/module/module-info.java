/** A named module that exports nothing: the launcher opens its main package to the runtime. */
module app.mod {
}
