package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;

/**
 * The port thread's hold on the engine's session while the scanner scans:
 * it opens the session, waits for scans on it, runs requests on it, and
 * closes it when the port is lost or scanning stops. An engine without
 * sessions is used per call, as it always was. Every method runs on the
 * port thread, except {@link #wake()}.
 */
final class HeldPort {
    /**
     * How long one wait for a scan lasts. Requests, stopScanning and close
     * wake it at once, so its length only sets how often an idle scanner
     * goes round its loop.
     */
    static final int WAIT_MS = 1000;

    /** A request on the eleven operations. */
    interface PerCall<T> {
        T call(ScanEngine engine) throws ScannerException;
    }

    /** The same request on a held port. */
    interface OnPort<T> {
        T call(PortSession session) throws ScannerException;
    }

    private final ScanEngine engine;
    private volatile PortSession session; // wake() reads it on other threads
    private boolean offered = true; // false once the engine said it has no sessions
    private boolean busy; // the last open was refused: another owner has the port
    private boolean lostInRequest; // a request found the port lost; not yet reported

    HeldPort(ScanEngine engine) {
        this.engine = engine;
    }

    /** Any thread: ends the wait for a scan in progress, or the next one. */
    void wake() {
        PortSession s = session;
        if (s != null) {
            s.wake();
        }
    }

    /** True when there is something to let go once scanning stops: a session, or a period's state. */
    boolean engaged() {
        return session != null || busy || lostInRequest;
    }

    /**
     * One step of scanning: open the session when none is held, or wait
     * for one scan on it and hand it to the period. Blocks up to
     * {@link #WAIT_MS}; a failed open returns at once, after the period has
     * been told (it then sets the back-off).
     *
     * @return false when the engine has no sessions: read per call instead
     */
    boolean step(ScanPeriod period) {
        if (!offered) {
            return false;
        }
        if (lostInRequest) {
            lostInRequest = false;
            period.portMissing();
            return true;
        }
        if (session == null) {
            open(period);
            return offered;
        }
        take(period, WAIT_MS);
        return true;
    }

    /**
     * After a request while scanning: hands the period the scans that the
     * session kept while requests ran, without waiting for new ones, so
     * that a run of queued requests never lets more pile up than the
     * session keeps.
     */
    void collect(ScanPeriod period) {
        while (session != null && take(period, 0)) {
            // one more
        }
    }

    /** One wait on the session; true when it gave a scan. */
    private boolean take(ScanPeriod period, int timeoutMs) {
        ScanData scan;
        try {
            scan = session.awaitScan(timeoutMs);
        } catch (ScannerException e) {
            drop();
            period.portMissing();
            return false;
        }
        if (scan == null) {
            return false;
        }
        period.scan(scan);
        return true;
    }

    /**
     * Runs a request: on the session when one is held, refused with
     * {@code PORT_BUSY} while another owner holds the port, per call
     * otherwise. A request that finds the held port lost lets it go; the
     * next step reports the loss.
     */
    <T> T request(PerCall<T> perCall, OnPort<T> onPort) throws ScannerException {
        PortSession s = session;
        if (s == null) {
            if (busy) {
                throw new ScannerException(Reason.PORT_BUSY, "the port is held by another session");
            }
            return perCall.call(engine);
        }
        try {
            return onPort.call(s);
        } catch (ScannerException e) {
            if (e.reason() == Reason.PORT_UNAVAILABLE) {
                drop();
                lostInRequest = true;
            }
            throw e;
        }
    }

    /** Scanning has stopped: lets the port go and forgets the period's state. */
    void release() {
        drop();
        busy = false;
        lostInRequest = false;
    }

    private void open(ScanPeriod period) {
        PortSession s;
        try {
            s = engine.openSession();
        } catch (ScannerException e) {
            if (e.reason() == Reason.PORT_BUSY) {
                busy = true;
                period.portBusy(e);
            } else {
                busy = false;
                period.portMissing();
            }
            return;
        }
        busy = false;
        if (s == null) {
            offered = false;
            return;
        }
        session = s;
        period.portWorks();
    }

    private void drop() {
        PortSession s = session;
        if (s != null) {
            session = null;
            s.close();
        }
    }
}
