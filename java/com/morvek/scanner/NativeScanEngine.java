package com.morvek.scanner;

/**
 * The real scan engine: the held-port session of the native library,
 * through {@link ScanPortNative}. Give it to {@link BarcodeScanner}; the
 * per-call operations stay with {@link ScanNative} for code written
 * against it.
 *
 * <p>This is the only class that opens the native session; the native
 * library is loaded by the first {@link #openSession()}, not when the
 * object is made. A missing or mismatched library then shows as an
 * {@link UnsatisfiedLinkError} or {@link NoSuchMethodError} from that call
 * ({@link BarcodeScanner} hands it to the caller's future or listener).
 */
public final class NativeScanEngine implements SessionEngine {
    /** Makes the engine object; loads nothing yet. */
    public NativeScanEngine() {
    }

    /**
     * Opens the held-port session of the native library. One session owns
     * the port; while it is open, the per-call operations of
     * {@link ScanNative} in this process run on it, and those of another
     * process fail. Any thread; blocks for the open, a few milliseconds.
     *
     * @return the session, never null
     * @throws ScannerException {@code PORT_BUSY} when another session holds
     *         the port ({@link PortHolder#THIS_APP} when a session opened
     *         here is open, {@link PortHolder#OTHER_APP} otherwise),
     *         {@code PORT_UNAVAILABLE} when the port cannot be opened or
     *         configured
     */
    @Override
    public PortSession openSession() throws ScannerException {
        return NativePortSession.open();
    }

    /** The native library watches the port for its holder's release. */
    @Override
    public boolean canAwaitPortFree() {
        return true;
    }

    /**
     * Waits until no session, in this process or another, holds the port;
     * the holder's close (or its process's death) is seen within a few
     * milliseconds. Any thread; blocks up to timeoutMs, or until
     * {@link #wakePortWaits()}.
     */
    @Override
    public boolean awaitPortFree(long timeoutMs) throws ScannerException {
        int r = ScanPortNative.waitFree((int) Math.max(0, Math.min(Integer.MAX_VALUE, timeoutMs)));
        if (r < 0) {
            throw new ScannerException(ScannerException.Reason.PORT_UNAVAILABLE,
                    "cannot wait for the port: " + r);
        }
        return r == 1;
    }

    /** Ends every wait for a free port in this process: the native wake is not per engine. */
    @Override
    public void wakePortWaits() {
        ScanPortNative.wakeFree();
    }
}
