package com.morvek.scanner;

/**
 * The real scan engine: each method calls the {@link ScanNative} method of
 * the same name and returns its result unchanged.
 *
 * <p>This is the only class that touches {@code ScanNative}; the native
 * library is loaded by the first call of any method here, not when the
 * object is made. A missing or mismatched library then shows as an
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
