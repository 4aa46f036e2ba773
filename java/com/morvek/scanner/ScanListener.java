package com.morvek.scanner;

/**
 * Receives what {@link BarcodeScanner} reads while it scans, and the state
 * of the port. Every method runs on the executor given to
 * {@link BarcodeScanner#startScanning(java.util.concurrent.Executor, ScanListener)},
 * never on the thread that reads the port, one call at a time and in the
 * order the events happened. A method that blocks holds up the later
 * events, never the reading: scans that arrive meanwhile wait whole and in
 * order, up to {@link BarcodeScanner#MAX_QUEUED_SCANS} of them (past that
 * the oldest is dropped, see {@link #onScansDropped(int)}).
 *
 * <p>Only {@link #onScan(String)} must be written, so a lambda fits:
 * {@code scanner.startScanning(executor, data -> show(data))}. A listener
 * that wants each scan's bytes and arrival time overrides
 * {@link #onScanData(ScanData)} instead (and writes an empty
 * {@code onScan}).
 *
 * <h2>The port's state</h2>
 * When scanning starts the listener first hears the state the port is in
 * ({@link #onPortReady()}, {@link #onPortBusy(ScannerException)} or
 * {@link #onPortLost()}, as soon as the scanner has tried the port), then
 * every change: busy is followed by {@link #onPortFree()} once the holder
 * lets go and the port is ours, lost by {@link #onPortBack()}. A typical
 * screen shows "scanner in use" on busy and clears it on free.
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
     * The listener fell behind by more than
     * {@link BarcodeScanner#MAX_QUEUED_SCANS} scans: the oldest waiting ones
     * were dropped, whole, and the rest follow in order. Called before the
     * next scan that is delivered. Does nothing unless overridden.
     *
     * @param count how many scans were dropped since the last call
     */
    default void onScansDropped(int count) {
    }

    /** The port is ours: the scanner holds it and reads it. Does nothing unless overridden. */
    default void onPortReady() {
    }

    /**
     * Another owner holds the port; {@link ScannerException#holder()} says
     * whether it is another scanner of this app or another app, and the
     * message says what to do. Called once; the scanner takes the port as
     * soon as the holder lets it go (or, on an engine that cannot wait for
     * that, retries after 50 ms, doubling up to 2 s) and calls
     * {@link #onPortFree()} once the port is ours. The default passes the refusal to {@link #onError(Throwable)},
     * where, unlike the engine's errors, it does not mean that scanning
     * has stopped: the scanner goes on trying. Override this method to
     * tell a busy port from a failure.
     *
     * @param refusal the refusal, reason {@code PORT_BUSY}
     */
    default void onPortBusy(ScannerException refusal) {
        onError(refusal);
    }

    /**
     * The holder let the port go after {@link #onPortBusy(ScannerException)},
     * and the port is ours now. Does nothing unless overridden.
     */
    default void onPortFree() {
    }

    /**
     * The port could not be opened or configured, or the held port was
     * lost (a request that found it lost has failed before this call).
     * Called once when the port goes away; the scanner then retries with
     * growing pauses (50 ms doubling up to 2 s) and calls
     * {@link #onPortBack()} once it holds and reads the port again. Does
     * nothing unless overridden.
     */
    default void onPortLost() {
    }

    /** The port works again after {@link #onPortLost()}. Does nothing unless overridden. */
    default void onPortBack() {
    }

    /**
     * A setting of the scanner's {@link ScanProfile} did not go out when
     * the scanner took the port (the first refusal; the other settings were
     * still sent). Told once per claim of the port, after its
     * {@link #onPortReady()}, {@link #onPortFree()} or {@link #onPortBack()};
     * scanning goes on. Does nothing unless overridden (the scanner goes on
     * without the setting).
     *
     * @param refusal the refusal, such as {@code NOT_SENT}
     */
    default void onProfileRefused(ScannerException refusal) {
    }

    /**
     * The engine threw while reading (for example an
     * {@link UnsatisfiedLinkError} when the native library cannot be
     * loaded): scanning has stopped, and it may be started again. Also
     * called by the default {@link #onPortBusy(ScannerException)} with the
     * refusal (a {@link ScannerException} of reason {@code PORT_BUSY}):
     * then scanning goes on, and the scanner retries until the port is
     * free. Does nothing unless overridden.
     *
     * @param error what the engine threw, or the refusal
     */
    default void onError(Throwable error) {
    }
}
