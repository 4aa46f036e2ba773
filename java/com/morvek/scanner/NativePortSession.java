package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * {@link PortSession} on {@link ScanPortNative}: the native codes turned
 * into values and exceptions. The calls are serialised on this object, as
 * the native session requires; {@link #wake()} takes no lock, and
 * {@link #close()} wakes a wait in progress before it takes the lock.
 * The sessions open in this process are counted, so that a refused open
 * can tell whether the holder is here or in another process.
 */
final class NativePortSession implements PortSession {
    private static final AtomicInteger OPEN = new AtomicInteger();
    private final long handle;
    private final byte[] scan = new byte[ScanPortNative.MAX_SCAN];
    private final long[] firstByte = new long[1];
    private final byte[] value = new byte[16];
    private boolean closed; // guarded by this

    private NativePortSession(long handle) {
        this.handle = handle;
    }

    /** Opens the session; blocks for the open. */
    static PortSession open() throws ScannerException {
        long handle = ScanPortNative.open();
        if (handle == ScanPortNative.BUSY) {
            throw new ScannerException(OPEN.get() > 0 ? PortHolder.THIS_APP : PortHolder.OTHER_APP);
        }
        if (handle <= 0) {
            throw failure((int) handle, "open the port");
        }
        OPEN.incrementAndGet();
        return new NativePortSession(handle);
    }

    @Override
    public synchronized ScanData awaitScan(int timeoutMs) throws ScannerException {
        if (timeoutMs < 0) {
            throw new IllegalArgumentException("a wait of " + timeoutMs + " ms");
        }
        int n = result(ScanPortNative.waitScan(handle, timeoutMs, scan, firstByte), "wait for a scan");
        if (n == 0) {
            return null;
        }
        byte[] bytes = new byte[Math.min(n, scan.length)];
        System.arraycopy(scan, 0, bytes, 0, bytes.length);
        return ScanData.owning(bytes, firstByte[0]);
    }

    @Override
    public void wake() {
        ScanPortNative.wake(handle);
    }

    @Override
    public synchronized void writeOpen(boolean open) throws ScannerException {
        result(ScanPortNative.writeOpen(handle, open), open ? "open frame" : "close frame");
    }

    @Override
    public synchronized void enableType(int type, boolean enable) throws ScannerException {
        result(ScanPortNative.enableType(handle, enable, type), (enable ? "enable " : "disable ") + type);
    }

    @Override
    public synchronized void setTimeout(int timeout) throws ScannerException {
        result(ScanPortNative.setTimeout(handle, timeout), "timeout " + timeout);
    }

    @Override
    public synchronized void sendCommand(String command) throws ScannerException {
        result(ScanPortNative.sendCommand(handle, command), "command");
    }

    @Override
    public synchronized void profile() throws ScannerException {
        result(ScanPortNative.profile(handle), "profile");
    }

    @Override
    public synchronized boolean checkType(int type) throws ScannerException {
        return result(ScanPortNative.checkType(handle, type), "check of type " + type) == 1;
    }

    @Override
    public synchronized String timeout() throws ScannerException {
        return text(ScanPortNative.getTimeout(handle, value), "timeout");
    }

    @Override
    public synchronized String setting(int number) throws ScannerException {
        return text(ScanPortNative.query(handle, number, value), "setting " + number);
    }

    @Override
    public void close() {
        ScanPortNative.wake(handle);
        synchronized (this) {
            if (!closed) {
                closed = true;
                ScanPortNative.close(handle);
                OPEN.decrementAndGet();
            }
        }
    }

    private String text(int n, String what) throws ScannerException {
        return ScanData.decode(value, Math.min(result(n, what), value.length));
    }

    /** The count or value, or the failure that the negative code stands for. */
    private static int result(int code, String what) throws ScannerException {
        if (code >= 0) {
            return code;
        }
        throw failure(code, what);
    }

    /**
     * The exception of a negative code; an argument refused or a closed
     * session are the caller's errors and throw unchecked ones here.
     */
    private static ScannerException failure(int code, String what) {
        switch (code) {
            case ScanPortNative.NO_PORT:
            case ScanPortNative.PORT_LOST:
                return new ScannerException(Reason.PORT_UNAVAILABLE, what);
            case ScanPortNative.NO_ANSWER:
                return new ScannerException(Reason.NO_ANSWER, what);
            case ScanPortNative.NOT_SENT:
                return new ScannerException(Reason.NOT_SENT, what);
            case ScanPortNative.INVALID:
                throw new IllegalArgumentException(what + ": not taken by the engine");
            case ScanPortNative.CLOSED:
                throw new IllegalStateException(what + ": the session is closed");
            default:
                throw new IllegalStateException(what + ": unknown result " + code);
        }
    }
}
