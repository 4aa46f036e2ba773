package com.morvek.scanner;

/**
 * Receives what {@link BarcodeScanner} reads while it scans. Every method
 * runs on the executor given to
 * {@link BarcodeScanner#startScanning(java.util.concurrent.Executor, ScanListener)},
 * never on another thread, one call at a time and in the order the events
 * happened. A method that blocks holds up the executor and the later
 * events, not the port.
 *
 * <p>Only {@link #onScan(String)} must be written, so a lambda fits:
 * {@code scanner.startScanning(executor, data -> show(data))}.
 */
public interface ScanListener {
    /**
     * One piece of scan data, whole, as the engine sent it.
     *
     * @param data the scan data, never empty
     */
    void onScan(String data);

    /**
     * The port could not be opened or configured. Called once when the
     * port goes away; the scanner then retries with growing pauses (50 ms
     * doubling up to 2 s) and calls {@link #onPortBack()} once it reads
     * again. Does nothing unless overridden.
     */
    default void onPortLost() {
    }

    /** The port works again after {@link #onPortLost()}. Does nothing unless overridden. */
    default void onPortBack() {
    }

    /**
     * The engine threw while reading (for example an
     * {@link UnsatisfiedLinkError} when the native library cannot be
     * loaded). Scanning has stopped; it may be started again. Does nothing
     * unless overridden.
     *
     * @param error what the engine threw
     */
    default void onError(Throwable error) {
    }
}
