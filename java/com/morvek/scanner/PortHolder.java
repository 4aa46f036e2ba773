package com.morvek.scanner;

/**
 * Who holds the port when a session is refused with
 * {@link ScannerException.Reason#PORT_BUSY}, and what the app can do about it.
 */
public enum PortHolder {
    /**
     * Another {@link BarcodeScanner} of this app holds the port: one that is
     * still in use, or one that was never closed and is let go once it is
     * garbage collected. Close the other scanner.
     */
    THIS_APP("another BarcodeScanner of this app holds the scanner: close the other BarcodeScanner"),
    /**
     * Another app (another process) holds the port. The scanner takes it as
     * soon as that app lets it go.
     */
    OTHER_APP("another app holds the scanner");

    private final String advice;

    PortHolder(String advice) {
        this.advice = advice;
    }

    /**
     * The holder and the fix, as the busy error's message gives them.
     *
     * @return the text, for example "another app holds the scanner"
     */
    public String advice() {
        return advice;
    }
}
