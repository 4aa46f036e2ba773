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
 * {@code scanner.startScanning(executor, data -> show(data))}. A listener
 * that wants each scan's bytes and arrival time overrides
 * {@link #onScanData(ScanData)} instead (and writes an empty
 * {@code onScan}).
 */
public interface ScanListener {
    /**
     * One piece of scan data as text, whole, as {@link ScanData#text()}
     * gives it. Called by the default {@link #onScanData(ScanData)}.
     *
     * @param data the scan data, never empty
     */
    void onScan(String data);

    /**
     * One scan, whole: its bytes exactly as the engine sent them (with a
     * session; see {@link ScanData}) and its arrival time.
     * {@link BarcodeScanner} calls this method for every scan. The default
     * passes the text to {@link #onScan(String)}, unless the text is empty
     * (a scan whose first byte is zero), so that {@code onScan} never gets
     * an empty text.
     *
     * @param scan the scan, at least one byte
     */
    default void onScanData(ScanData scan) {
        String text = scan.text();
        if (!text.isEmpty()) {
            onScan(text);
        }
    }

    /**
     * The port could not be opened or configured, or the held port was
     * lost. Called once when the port goes away; the scanner then retries
     * with growing pauses (50 ms doubling up to 2 s) and calls
     * {@link #onPortBack()} once it reads again. Does nothing unless
     * overridden.
     */
    default void onPortLost() {
    }

    /** The port works again after {@link #onPortLost()}. Does nothing unless overridden. */
    default void onPortBack() {
    }

    /**
     * Scanning cannot go on as it should. Either the engine threw while
     * reading (for example an {@link UnsatisfiedLinkError} when the native
     * library cannot be loaded): scanning has stopped, and it may be
     * started again. Or another owner holds the port (a
     * {@link ScannerException} with reason {@code PORT_BUSY}): called once,
     * scanning goes on, and the scanner retries with the same pauses as
     * for a lost port until the port is free. Does nothing unless
     * overridden.
     *
     * @param error what the engine threw, or the refusal
     */
    default void onError(Throwable error) {
    }
}
