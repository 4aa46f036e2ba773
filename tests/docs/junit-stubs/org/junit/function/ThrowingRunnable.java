package org.junit.function;

/** Stand-in of JUnit 4.13's interface, for the documented unit test. */
public interface ThrowingRunnable {
    void run() throws Throwable;
}
