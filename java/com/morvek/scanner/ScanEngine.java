package com.morvek.scanner;

/**
 * The eleven operations of the scan engine, as instance methods with the
 * names, parameters and results of {@link ScanNative}, and optionally a
 * held port, {@link #openSession()}.
 *
 * <p>An app's own test double implements this interface;
 * {@code FakeScanEngine} (shipped in its own jar) does too.
 * {@link BarcodeScanner} makes every call on its one port thread, so an
 * implementation need not be thread-safe when only a
 * {@code BarcodeScanner} uses it.
 *
 * <p>Every method blocks its caller for one exchange with the engine (the
 * times below are the native library's). No method is expected to throw;
 * a failure is reported as {@code false}, {@code null} or the empty string
 * as each method states.
 */
public interface ScanEngine extends SessionEngine {
    /**
     * An engine of the eleven operations alone need not implement this: the
     * default returns null, and {@link BarcodeScanner} then runs the
     * operations behind one adapter with the contract of a
     * {@link PortSession}, one port cycle per call.
     *
     * @return the session; null when this engine has none
     * @throws ScannerException as {@link SessionEngine#openSession()}
     */
    @Override
    default PortSession openSession() throws ScannerException {
        return null;
    }

    /**
     * Sends the open frame. Blocks while the port takes the frame.
     *
     * @return true when the frame went out; false when the port failed
     */
    boolean openDev();

    /**
     * Sends the close frame. Blocks while the port takes the frame.
     *
     * @return true when the frame went out; false when the port failed
     */
    boolean closeDev();

    /**
     * Waits for scan data that the engine sends on its own; sends nothing.
     * Blocks up to about one second for a scan to begin, then until it has
     * arrived whole.
     *
     * @return the scan data; the empty string when nothing arrived; null
     *         when the port could not be opened or configured
     */
    String readData();

    /**
     * Asks whether a scan type is enabled. Blocks for the reply, about
     * 100 ms at most.
     *
     * @param type the type index, 0 to 34
     * @return true when the engine answered "enabled"; false when it
     *         answered "disabled", gave no answer or the port failed
     */
    boolean checkType(int type);

    /**
     * Sends the enable frame of a scan type. Blocks while the port takes
     * the frame.
     *
     * @param type the type index, 0 to 34
     * @return true when the frame went out; false for an index out of range
     *         or a port failure
     */
    boolean enableType(int type);

    /**
     * Sends the disable frame of a scan type. Blocks while the port takes
     * the frame.
     *
     * @param type the type index, 0 to 34
     * @return true when the frame went out; false for an index out of range
     *         or a port failure
     */
    boolean disableType(int type);

    /**
     * Sends a new timeout setting. Blocks about 100 ms.
     *
     * @param timeout the value, -999 to 9999
     * @return true when the frame went out; false for a value out of range
     *         or a port failure
     */
    boolean setTimeout(int timeout);

    /**
     * Reads the timeout setting back. Blocks for the reply, about 100 ms at
     * most.
     *
     * @return four characters; the empty string when the engine gave no
     *         answer; null when the port failed
     */
    String getTimeout();

    /**
     * Sends a free command text. Blocks about 100 ms.
     *
     * @param command at most 255 bytes in modified UTF-8
     * @return true when the frame went out; false for null, a longer text
     *         or a port failure
     */
    boolean sendCommand(String command);

    /**
     * Reads any setting by its number. Blocks for the reply, about 100 ms
     * at most.
     *
     * @param number the setting number
     * @return the value; the empty string when the engine gave no answer;
     *         null when the port failed
     */
    String queryData(int number);

    /**
     * Sends the fixed profile command. Blocks about 100 ms.
     *
     * @return true when the frame went out; false when the port failed
     */
    boolean profileScanType();
}
