package com.morvek.scanner;

/**
 * What {@link BarcodeScanner} runs on: an engine that can hold the port in
 * a {@link PortSession}. {@link NativeScanEngine} is the device;
 * {@code FakeScanEngine} (its own jar) stands in for it in an app's unit
 * tests; any {@link ScanEngine} of the eleven per-call operations fits too.
 */
public interface SessionEngine {
    /**
     * Opens a session that holds the port until it is closed. Blocks for the
     * open, a few milliseconds with the native library.
     *
     * @return the session; null when this engine has none, and the scanner
     *         then runs the eleven operations of a {@link ScanEngine}, one
     *         port cycle per call
     * @throws ScannerException {@code PORT_BUSY} when another session holds
     *         the port ({@link ScannerException#holder()} says whose),
     *         {@code PORT_UNAVAILABLE} when the port cannot be opened or
     *         configured
     */
    PortSession openSession() throws ScannerException;

    /**
     * Whether {@link #awaitPortFree(long)} can wait for the port to become
     * free. An engine that cannot (the default) is tried again after a
     * back-off when the port was busy.
     *
     * @return true when {@link #awaitPortFree(long)} waits
     */
    default boolean canAwaitPortFree() {
        return false;
    }

    /**
     * Waits until no session holds the port, whoever held it. Blocks the
     * calling thread up to timeoutMs; {@link #wakePortWaits()} ends the
     * wait at once.
     *
     * @param timeoutMs how long to wait at most
     * @return true when the port is free; false when the time ran out, the
     *         wait was woken, or this engine cannot wait (the default)
     * @throws ScannerException {@code PORT_UNAVAILABLE} when the port
     *         cannot be opened to wait on
     */
    default boolean awaitPortFree(long timeoutMs) throws ScannerException {
        return false;
    }

    /** Ends every {@link #awaitPortFree(long)} of this engine in progress at once, or the next one when none is. Any thread. */
    default void wakePortWaits() {
    }
}
