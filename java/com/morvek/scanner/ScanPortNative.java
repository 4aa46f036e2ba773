package com.morvek.scanner;

/**
 * The held-port session of the native library: the port "/dev/ttyMT1"
 * opened once and kept open, so that writes, questions and waits for scan
 * data all run on one descriptor. Only {@link NativeScanEngine} uses this
 * class; apps use {@link PortSession}.
 *
 * <p>One session at a time owns the port: a second {@link #open()}, in
 * this process or another, is refused with {@link #BUSY}. Each open that
 * succeeds gives a new handle, which every other method takes; a handle
 * whose session has been closed gets {@link #CLOSED} and never reaches a
 * session opened later. {@link #wake(long)} and {@link #close(long)} may
 * be called from any thread at any time; otherwise one thread at a time
 * uses a session: the caller serialises. Every method but {@code wake} blocks for its exchange, as
 * each states. The methods return a count or value, or one of the negative
 * codes below; none throws, except as the VM does for a null array.
 *
 * <p>Loading this class loads the library, whose load hook registers the
 * methods here when the class is present.
 */
final class ScanPortNative {
    /** Another session holds the port. */
    static final int BUSY = -1;
    /** The port cannot be opened or configured. */
    static final int NO_PORT = -2;
    /** The port hung up, or a read or poll failed: close the session. */
    static final int PORT_LOST = -3;
    /** No reply to a question within its budget (100 ms). */
    static final int NO_ANSWER = -4;
    /** A frame could not be written whole. */
    static final int NOT_SENT = -5;
    /** An argument that no engine takes (or a null array or string); nothing was sent. */
    static final int INVALID = -6;
    /** The handle is not the open session's: closed, or never given. */
    static final int CLOSED = -7;

    /** The longest scan message, in bytes. */
    static final int MAX_SCAN = 8192;

    static {
        System.loadLibrary("scanjni");
    }

    private ScanPortNative() {
    }

    /**
     * Opens and configures the port and discards what it holds. Blocks for
     * the open, a few milliseconds.
     *
     * @return a handle, greater than 0; or BUSY or NO_PORT
     */
    static native long open();

    /**
     * Closes the session; scans not yet taken are dropped. Does nothing for
     * a handle that is not open. Any thread: a wait in progress on another
     * thread is woken, and the close waits for the call in progress to end
     * (a question: at most about 100 ms); otherwise it blocks a few
     * milliseconds.
     *
     * @param handle the session's handle
     */
    static native void close(long handle);

    /**
     * Ends a {@link #waitScan} in progress at once, or the next one when
     * none is in progress. Any thread, any time; never blocks.
     *
     * @param handle the session's handle
     */
    static native void wake(long handle);

    /**
     * Writes the open or close frame. Blocks until the frame has left.
     *
     * @param handle the session's handle
     * @param open the open frame (true) or the close frame
     * @return the frame's byte count, or a negative code
     */
    static native int writeOpen(long handle, boolean open);

    /**
     * Writes a type's enable or disable frame. Blocks until it has left.
     *
     * @param handle the session's handle
     * @param enable enable (true) or disable
     * @param type the type index, 0 to 34
     * @return the frame's byte count, or a negative code
     */
    static native int enableType(long handle, boolean enable, int type);

    /**
     * Writes the timeout setting. Blocks until the frame has left.
     *
     * @param handle the session's handle
     * @param timeout -999 to 9999
     * @return the frame's byte count, or a negative code
     */
    static native int setTimeout(long handle, int timeout);

    /**
     * Writes a free command, the text's modified UTF-8 as the VM gives it.
     * Blocks until the frame has left.
     *
     * @param handle the session's handle
     * @param command at most 255 bytes in modified UTF-8
     * @return the frame's byte count, or a negative code
     */
    static native int sendCommand(long handle, String command);

    /**
     * Writes the fixed profile command. Blocks until the frame has left.
     *
     * @param handle the session's handle
     * @return the frame's byte count, or a negative code
     */
    static native int profile(long handle);

    /**
     * Asks whether a type is enabled, in one exchange. Blocks for the reply,
     * at most about 100 ms.
     *
     * @param handle the session's handle
     * @param type the type index, 0 to 34
     * @return 1 enabled, 0 disabled, or a negative code
     */
    static native int checkType(long handle, int type);

    /**
     * Reads the timeout setting. Blocks for the reply, at most about 100 ms.
     *
     * @param handle the session's handle
     * @param out receives the value's bytes (as many as fit)
     * @return the value's length (4), or a negative code
     */
    static native int getTimeout(long handle, byte[] out);

    /**
     * Reads a setting by its number. Blocks for the reply, at most about
     * 100 ms.
     *
     * @param handle the session's handle
     * @param number the setting number
     * @param out receives the value's bytes (as many as fit, at most 12)
     * @return the value's length, or a negative code
     */
    static native int query(long handle, int number, byte[] out);

    /**
     * Waits for a whole scan message: its bytes exactly as they came, zero
     * bytes included, cut to the array's length. Blocks up to timeoutMs for
     * a scan to begin, then until it has ended (the line quiet for 20 ms);
     * {@link #wake(long)} ends the wait at once.
     *
     * @param handle the session's handle
     * @param timeoutMs how long to wait for a scan to begin
     * @param buf receives the scan
     * @param firstByteNanos receives, in element 0, when the scan's first
     *        byte arrived, on CLOCK_MONOTONIC in nanoseconds (the clock of
     *        {@link System#nanoTime()} on Linux and Android)
     * @return the scan's length; 0 when the time ran out or the wait was
     *         woken; or a negative code
     */
    static native int waitScan(long handle, int timeoutMs, byte[] buf, long[] firstByteNanos);

    /**
     * Waits until no session, of this process or another, holds the port:
     * the holder's release (its close, or its process's death) is seen
     * within a few milliseconds. Any thread, several at once; blocks up to
     * timeoutMs; {@link #wakeFree()} ends every such wait at once.
     *
     * @param timeoutMs how long to wait, 0 or more
     * @return 1 when the port is free; 0 when the time ran out or the wait
     *         was woken; NO_PORT when the device cannot be opened, INVALID
     *         for a negative timeout
     */
    static native int waitFree(int timeoutMs);

    /** Ends every {@link #waitFree(int)} in progress at once, or the next one when none is. Any thread; never blocks. */
    static native void wakeFree();
}
