package com.morix.runtime;

import com.morix.api.StopReason;
import java.lang.reflect.InvocationHandler;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;

/**
 * A console close (and a log-off or system shutdown seen by a console program) reaches a Java VM on
 * Windows as the signal TERM, whose default handler calls System.exit(143). Taking it over runs the stop
 * listeners first, with the same exit code and the stop's time limit. The signal API is the JDK's
 * {@code sun.misc.Signal}, reached through reflection so that nothing breaks on a runtime without it, or
 * with signals reserved for the VM (-Xrs, as a service child has it).
 */
final class ConsoleSignals {
    static final int TERM_EXIT_CODE = 128 + 15;

    private ConsoleSignals() {
    }

    /** True when the handler was installed. */
    static boolean install() {
        try {
            Class<?> signalType = Class.forName("sun.misc.Signal");
            Class<?> handlerType = Class.forName("sun.misc.SignalHandler");
            Object signal = signalType.getConstructor(String.class).newInstance("TERM");
            InvocationHandler onSignal = new InvocationHandler() {
                @Override
                public Object invoke(Object proxy, Method method, Object[] args) {
                    if (method.getName().equals("handle")) {
                        StopSequence.stop(StopReason.CONSOLE_CLOSE, TERM_EXIT_CODE);
                        return null;
                    }
                    if (method.getName().equals("hashCode")) {
                        return System.identityHashCode(proxy);
                    }
                    if (method.getName().equals("equals")) {
                        return proxy == args[0];
                    }
                    return "morix console close handler";
                }
            };
            Object handler = Proxy.newProxyInstance(ConsoleSignals.class.getClassLoader(),
                    new Class<?>[] {handlerType}, onSignal);
            signalType.getMethod("handle", signalType, handlerType).invoke(null, signal, handler);
            return true;
        } catch (ReflectiveOperationException | RuntimeException | LinkageError e) {
            return false;
        }
    }
}
