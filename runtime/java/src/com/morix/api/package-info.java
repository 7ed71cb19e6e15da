/**
 * What a Java application started by a Morix launcher can ask of it: whether it runs as a Windows service
 * and under which name, the launcher's path, the temporary directory with the launcher's included files,
 * and a listener that hears of a stop request before the shutdown hooks run.
 *
 * <p>Everything here works outside a launcher too (in tests, or started by {@code java}): the application
 * is then no service, and the paths are absent.
 */
package com.morix.api;
