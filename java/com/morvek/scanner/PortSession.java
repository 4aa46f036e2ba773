package com.morvek.scanner;

import java.io.Closeable;

/**
 * The port held open for as long as it is needed, from
 * {@link ScanEngine#openSession()}: scans are waited for and requests run
 * on the one open port, so no scan is lost to a request's port cycle, and
 * a scan that arrives while a question is asked is kept for the next
 * {@link #awaitScan(int)}. One session owns the port; a second one, in
 * this process or another, is refused with {@code PORT_BUSY}.
 *
 * <h2>Threads</h2>
 * One thread at a time uses a session: the calls do not overlap. Only
 * {@link #wake()} and {@link #close()} may be called from any other thread
 * at any time. Every method but {@code wake()} blocks as it states.
 *
 * <h2>Failures</h2>
 * A method that fails throws {@link ScannerException}: {@code NO_ANSWER}
 * when a question got no reply within about 100 ms, {@code NOT_SENT} when
 * a frame could not be written whole, and {@code PORT_UNAVAILABLE} when
 * the port was lost (hung up, or a read or poll failed). After a
 * {@code PORT_UNAVAILABLE} the session is of no further use: close it and
 * open another. An argument that no engine takes throws
 * {@link IllegalArgumentException}, and any call after {@link #close()}
 * but {@code wake()} and {@code close()} throws {@link IllegalStateException};
 * nothing is sent for either.
 */
public interface PortSession extends Closeable {
    /**
     * Waits for a whole scan. Blocks up to timeoutMs for a scan to begin,
     * then until it has ended (the line quiet for 20 ms with the native
     * library); {@link #wake()} ends the wait at once.
     *
     * @param timeoutMs how long to wait for a scan to begin, 0 or more
     * @return the scan; null when the time ran out or the wait was woken
     * @throws ScannerException {@code PORT_UNAVAILABLE} when the port was lost
     */
    ScanData awaitScan(int timeoutMs) throws ScannerException;

    /**
     * Ends an {@link #awaitScan(int)} in progress at once, or the next one
     * when none is in progress. Any thread, any time; never blocks; does
     * nothing after {@link #close()}.
     */
    void wake();

    /**
     * Writes the engine's open or close frame. Blocks until the frame has
     * left the port (a few milliseconds).
     *
     * @param open the open frame (true) or the close frame (false)
     * @throws ScannerException {@code NOT_SENT} or {@code PORT_UNAVAILABLE}
     */
    void writeOpen(boolean open) throws ScannerException;

    /**
     * Writes a scan type's enable or disable frame. Blocks until the frame
     * has left the port.
     *
     * @param type the type index, 0 to 34
     * @param enable enable (true) or disable (false)
     * @throws ScannerException {@code NOT_SENT} or {@code PORT_UNAVAILABLE}
     */
    void enableType(int type, boolean enable) throws ScannerException;

    /**
     * Writes the engine's timeout setting. Blocks until the frame has left
     * the port.
     *
     * @param timeout -999 to 9999
     * @throws ScannerException {@code NOT_SENT} or {@code PORT_UNAVAILABLE}
     */
    void setTimeout(int timeout) throws ScannerException;

    /**
     * Writes a free command text. Blocks until the frame has left the port.
     *
     * @param command at most 255 bytes in modified UTF-8
     * @throws ScannerException {@code NOT_SENT} or {@code PORT_UNAVAILABLE}
     */
    void sendCommand(String command) throws ScannerException;

    /**
     * Writes the fixed profile command. Blocks until the frame has left the
     * port.
     *
     * @throws ScannerException {@code NOT_SENT} or {@code PORT_UNAVAILABLE}
     */
    void profile() throws ScannerException;

    /**
     * Asks whether a scan type is enabled, in one exchange. Blocks until
     * the reply is in, at most about 100 ms.
     *
     * @param type the type index, 0 to 34
     * @return true when the engine answered "enabled", false for "disabled"
     * @throws ScannerException {@code NO_ANSWER}, {@code NOT_SENT} or
     *         {@code PORT_UNAVAILABLE}
     */
    boolean checkType(int type) throws ScannerException;

    /**
     * Reads the engine's timeout setting. Blocks until the reply is in, at
     * most about 100 ms.
     *
     * @return the four characters as the engine sent them
     * @throws ScannerException {@code NO_ANSWER}, {@code NOT_SENT} or
     *         {@code PORT_UNAVAILABLE}
     */
    String timeout() throws ScannerException;

    /**
     * Reads any setting by its number. Blocks until the reply is in, at
     * most about 100 ms.
     *
     * @param number the setting number
     * @return the value as the engine sent it, possibly empty
     * @throws ScannerException {@code NO_ANSWER}, {@code NOT_SENT} or
     *         {@code PORT_UNAVAILABLE}
     */
    String setting(int number) throws ScannerException;

    /**
     * Closes the session and lets the port go; scans not yet taken are
     * dropped. Any thread: ends a wait in progress first, then waits for
     * the call in progress, if any. Does nothing when already closed.
     */
    @Override
    void close();
}
