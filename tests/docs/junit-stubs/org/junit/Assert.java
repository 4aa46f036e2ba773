package org.junit;

import java.util.Objects;
import org.junit.function.ThrowingRunnable;

/**
 * Stand-in of JUnit 4.13's assertions that the documented unit test uses,
 * with the same names and behaviour: a failed check throws AssertionError.
 */
public final class Assert {
    private Assert() {
    }

    public static void assertTrue(boolean condition) {
        if (!condition) {
            throw new AssertionError("expected true");
        }
    }

    public static void assertEquals(Object expected, Object actual) {
        if (!Objects.equals(expected, actual)) {
            throw new AssertionError("expected <" + expected + "> but was <" + actual + ">");
        }
    }

    public static <T extends Throwable> T assertThrows(Class<T> expected, ThrowingRunnable runnable) {
        try {
            runnable.run();
        } catch (Throwable t) {
            if (expected.isInstance(t)) {
                return expected.cast(t);
            }
            throw new AssertionError("expected " + expected.getName() + " but " + t + " was thrown", t);
        }
        throw new AssertionError("expected " + expected.getName() + " but nothing was thrown");
    }
}
