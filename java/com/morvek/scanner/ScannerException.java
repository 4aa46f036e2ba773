package com.morvek.scanner;

/**
 * A request that reached the engine and failed. {@link BarcodeScanner}
 * completes a request's future exceptionally with it; {@code get()} wraps
 * it in an {@link java.util.concurrent.ExecutionException} and
 * {@code join()} in a {@link java.util.concurrent.CompletionException}.
 */
public final class ScannerException extends Exception {
    private static final long serialVersionUID = 1L;

    /** Why a request failed. */
    public enum Reason {
        /**
         * The port could not be opened or configured (a question or read gave
         * null), or a held port was lost (hung up, or a read or poll failed).
         */
        PORT_UNAVAILABLE,
        /** The engine gave no answer to a question within its wait (the empty text). */
        NO_ANSWER,
        /**
         * A frame did not go out. The native write operations report a port
         * that cannot be opened the same way, so this covers that case too.
         */
        NOT_SENT,
        /** The engine answered, but the answer is not of the form asked for. */
        BAD_ANSWER,
        /**
         * Another owner holds the port in a session: another scanner of this
         * app, or another app ({@link ScannerException#holder()} says which).
         * A second session is refused, not shared, so that no scan is split
         * between two owners.
         */
        PORT_BUSY,
    }

    /** Why the request failed; part of the serialized form. */
    private final Reason reason;
    /** Who holds the port, for {@code PORT_BUSY}; null otherwise. Part of the serialized form. */
    private final PortHolder holder;

    /**
     * Makes the exception.
     *
     * @param reason why the request failed
     * @param message what was asked, for the log
     */
    public ScannerException(Reason reason, String message) {
        super(reason + ": " + message);
        this.reason = reason;
        this.holder = null;
    }

    /**
     * Makes the refusal of a busy port, reason {@code PORT_BUSY}, whose
     * message names the holder and the fix, for example "PORT_BUSY: another
     * app holds the scanner".
     *
     * @param holder who holds the port
     * @throws IllegalArgumentException when holder is null
     */
    public ScannerException(PortHolder holder) {
        super(Reason.PORT_BUSY + ": " + checked(holder).advice());
        this.reason = Reason.PORT_BUSY;
        this.holder = holder;
    }

    private static PortHolder checked(PortHolder holder) {
        if (holder == null) {
            throw new IllegalArgumentException("no holder");
        }
        return holder;
    }

    /**
     * Tells why the request failed.
     *
     * @return the reason, never null
     */
    public Reason reason() {
        return reason;
    }

    /**
     * Tells who holds a busy port.
     *
     * @return the holder for a refusal made with {@link #ScannerException(PortHolder)};
     *         null otherwise
     */
    public PortHolder holder() {
        return holder;
    }
}
