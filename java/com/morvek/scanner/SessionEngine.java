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
}
