package com.morvek.scanner;

/**
 * The scan engine on the serial port "/dev/ttyMT1", reached through the
 * native library {@code libscanjni}.
 *
 * <p>Every method runs one complete exchange of its own: it opens the
 * port, configures the line, sends at most one frame, waits for the
 * engine's reply or for scan data where it has to, and closes the port
 * again before it returns. Nothing is kept open between calls, not even
 * between {@link #openDev()} and {@link #closeDev()}. Every method blocks
 * the calling thread for the time given in its description, so call them
 * off the UI thread.
 *
 * <p>Calls that overlap, from several threads or processes, take turns on
 * the line, so each gets its own reply. While a {@link BarcodeScanner} (or
 * native code) of this process holds the port, these calls run on its held
 * port ({@link #readData()} returns {@code null} then: the scans are the
 * holder's); while another app holds it, they fail at once.
 *
 * <p>No method throws. A failure reaches the caller as {@code false} or
 * {@code null}; the cause is written to the Android log under the tags
 * "SCANLIB_CORE" and "SCANLIB_JNI".
 */
public final class ScanNative {
    static {
        System.loadLibrary("scanjni");
    }

    private ScanNative() {
    }

    /**
     * Sends the engine its open frame. Blocks only while the port takes the
     * frame, about 100 ms at most.
     *
     * @return true when the frame went out; false when the port could not
     *         be opened or configured or nothing was written
     */
    public static native boolean openDev();

    /**
     * Sends the engine its close frame. Blocks only while the port takes the
     * frame, about 100 ms at most.
     *
     * @return true when the frame went out; false when the port could not
     *         be opened or configured or nothing was written
     */
    public static native boolean closeDev();

    /**
     * Reads the scan data that the engine sends on its own; sends nothing.
     * Only data that arrives after the call has configured the port counts.
     * Once data begins to arrive the call reads on until the line has been
     * quiet for 20 ms (or 8192 bytes have come), so it returns the whole
     * scan. Blocks up to about one second for a scan to begin, then until
     * it ends. Bytes that are
     * not valid text arrive as the characters U+0080 to U+00FF of the same
     * value.
     *
     * @return the scan data; the empty string when nothing arrived within
     *         about one second; null when the port could not be opened or
     *         configured
     */
    public static native String readData();

    /**
     * Asks the engine whether a scan type is enabled. Blocks for the reply,
     * up to about 100 ms.
     *
     * @param type the scan type index, 0 to 34; any other index is refused
     *             (false, nothing sent)
     * @return true when the engine reports the type as enabled; false when
     *         it reports it disabled, gives no answer, the index is refused,
     *         or the port failed
     */
    public static native boolean checkType(int type);

    /**
     * Sends the enable frame of a scan type. Blocks only while the port
     * takes the frame, about 100 ms at most.
     *
     * @param type the scan type index, 0 to 34; any other index is refused
     *             (false, nothing sent)
     * @return true when the frame went out; false when the index is refused
     *         or the port failed
     */
    public static native boolean enableType(int type);

    /**
     * Sends the disable frame of a scan type. Blocks only while the port
     * takes the frame, about 100 ms at most.
     *
     * @param type the scan type index, 0 to 34; any other index is refused
     *             (false, nothing sent)
     * @return true when the frame went out; false when the index is refused
     *         or the port failed
     */
    public static native boolean disableType(int type);

    /**
     * Sends the engine a new timeout setting. Blocks about 100 ms after the
     * write to give the engine time to apply it.
     *
     * @param timeout the value, -999 to 9999 (its decimal text must fit in
     *                the frame's four characters); a value out of range is
     *                refused at once: nothing is sent, the refusal is logged
     *                and the method returns false
     * @return true when the frame went out; false for a value out of range
     *         or a port failure
     */
    public static native boolean setTimeout(int timeout);

    /**
     * Reads the engine's timeout setting back. Blocks for the reply, up to
     * about 100 ms.
     *
     * @return the four characters of the setting as the engine sent them;
     *         the empty string when the engine gave no answer; null when the
     *         port could not be opened or configured
     */
    public static native String getTimeout();

    /**
     * Sends a free command text, wrapped in a command frame. Blocks about
     * 100 ms after the write, to give the engine time to apply it.
     *
     * @param command the command, at most 255 bytes in modified UTF-8
     * @return true when the frame went out; false when the command is null
     *         or too long, or the port failed
     */
    public static native boolean sendCommand(String command);

    /**
     * Reads any setting by its number. Blocks for the reply, up to about
     * 100 ms.
     *
     * @param number the setting number
     * @return the setting's value as the engine sent it; the empty string
     *         when the engine gave no answer; null when the port could not be
     *         opened or configured
     */
    public static native String queryData(int number);

    /**
     * Sends the engine its fixed profile command. Blocks about 100 ms after
     * the write, to give the engine time to apply it.
     *
     * @return true when the frame went out
     */
    public static native boolean profileScanType();
}
