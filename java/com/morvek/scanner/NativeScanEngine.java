package com.morvek.scanner;

/**
 * The real scan engine: each of the eleven operations calls the
 * {@link ScanNative} method of the same name and returns its result
 * unchanged; {@link #openSession()} holds the port through
 * {@link ScanPortNative}.
 *
 * <p>These are the only classes that touch {@code ScanNative} and
 * {@code ScanPortNative}; the native library is loaded by the first call
 * of any method here, not when the object is made. A missing or mismatched library then shows as an
 * {@link UnsatisfiedLinkError} or {@link NoSuchMethodError} from that call
 * ({@link BarcodeScanner} hands it to the caller's future or listener).
 *
 * <p>Each method blocks its calling thread as {@code ScanNative} documents.
 * Calls that overlap on one device can take each other's replies: use one
 * {@link BarcodeScanner} per engine rather than calling this class from
 * several threads.
 */
public final class NativeScanEngine implements ScanEngine {
    /** Makes the engine object; loads nothing yet. */
    public NativeScanEngine() {
    }

    /**
     * Opens the held-port session of the native library. One session owns
     * the port: while it is open, per-call operations still run, but each
     * of their port cycles flushes what the session has not read yet. Any
     * thread; blocks for the open, a few milliseconds.
     *
     * @return the session, never null
     * @throws ScannerException {@code PORT_BUSY} when another session holds
     *         the port (in this process or another), {@code PORT_UNAVAILABLE}
     *         when the port cannot be opened or configured
     */
    @Override
    public PortSession openSession() throws ScannerException {
        return NativePortSession.open();
    }

    @Override
    public boolean openDev() {
        return ScanNative.openDev();
    }

    @Override
    public boolean closeDev() {
        return ScanNative.closeDev();
    }

    @Override
    public String readData() {
        return ScanNative.readData();
    }

    @Override
    public boolean checkType(int type) {
        return ScanNative.checkType(type);
    }

    @Override
    public boolean enableType(int type) {
        return ScanNative.enableType(type);
    }

    @Override
    public boolean disableType(int type) {
        return ScanNative.disableType(type);
    }

    @Override
    public boolean setTimeout(int timeout) {
        return ScanNative.setTimeout(timeout);
    }

    @Override
    public String getTimeout() {
        return ScanNative.getTimeout();
    }

    @Override
    public boolean sendCommand(String command) {
        return ScanNative.sendCommand(command);
    }

    @Override
    public String queryData(int number) {
        return ScanNative.queryData(number);
    }

    @Override
    public boolean profileScanType() {
        return ScanNative.profileScanType();
    }
}
