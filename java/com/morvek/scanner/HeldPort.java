package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;
import java.util.concurrent.Executor;
import java.util.logging.Level;
import java.util.logging.Logger;

/**
 * The port thread's hold on the engine: the session from the first use
 * until the scanner closes (an engine of the eleven operations behind its
 * per-call adapter), the port's state as the listener hears it, and the
 * back-off between attempts after a refusal or a loss, on the engine's
 * clock. Every method runs on the port thread, except {@link #wake()}.
 */
final class HeldPort {
    /** The first pause after a refusal or a loss; it doubles up to {@link #MAX_BACKOFF_MS}. */
    static final long FIRST_BACKOFF_MS = 50;
    static final long MAX_BACKOFF_MS = 2000;

    private static final Logger LOG = Logger.getLogger("com.morvek.scanner");

    /** The port's state as last told to the listeners. */
    enum State { UNTRIED, READY, BUSY, LOST }

    private final SessionEngine engine;
    private final PortClock clock;
    private volatile PortSession session; // wake() reads it on other threads
    private boolean perCall; // the session is the per-call adapter
    private State state = State.UNTRIED;
    private ScannerException refusal; // the busy refusal last told
    private volatile ScanProfile profile; // sent at every claim; null: none
    private ScanProfile sent; // the profile sent at this claim of the port, or null
    private ScannerException sentRefusal; // its first refusal, or null
    private long backoffMs;
    private long nextTryNanos;
    private volatile boolean awaitingFree; // busy, and the engine waits for the release; wake() reads it

    HeldPort(SessionEngine engine, PortClock clock) {
        this.engine = engine;
        this.clock = clock;
        nextTryNanos = clock.nanoTime();
    }

    /** Any thread: ends the wait for a scan in progress, or the next one, or the wait for a free port. */
    void wake() {
        PortSession s = session;
        if (s != null) {
            s.wake();
        }
        if (awaitingFree) {
            engine.wakePortWaits();
        }
    }

    PortSession session() {
        return session;
    }

    /** True when the held session keeps scans between waits, which must then be taken even when not scanning. */
    boolean keepsScans() {
        return session != null && !perCall;
    }

    /** When the next attempt on a refused or lost port may be made, on {@link #clock}. */
    long nextTryNanos() {
        return nextTryNanos;
    }

    boolean backingOff() {
        return clock.nanoTime() - nextTryNanos < 0;
    }

    /**
     * Opens the session: the engine's, or the per-call adapter when it has
     * none. A refusal or failure is told and sets the back-off.
     *
     * @return the refusal or failure; null once the session is held
     */
    ScannerException open(ScanPeriod period) {
        PortSession s;
        try {
            s = engine.openSession();
        } catch (ScannerException e) {
            if (e.reason() == Reason.PORT_BUSY) {
                busy(period, e);
            } else {
                lost(period);
            }
            return e;
        }
        if (s == null) {
            // Only a ScanEngine has no session: its eleven operations, per call.
            session = new PerCallSession((ScanEngine) engine);
            perCall = true;
        } else {
            session = s;
            perCall = false;
        }
        return claimed(period);
    }

    /** Any thread: the profile to send at every claim from now on. */
    void profile(ScanProfile p) {
        profile = p;
    }

    /**
     * Port thread, on the held port: sends the profile unless this claim
     * has sent it already (the request that took the port did).
     *
     * @return the first refusal at this claim, or null
     * @throws ScannerException {@code PORT_UNAVAILABLE} when the port was lost
     */
    ScannerException sendProfile() throws ScannerException {
        ScanProfile p = profile;
        if (p != sent) {
            sentRefusal = p == null ? null : p.applyTo(session);
            sent = p;
        }
        return sentRefusal;
    }

    /**
     * The port was just taken: the profile goes out before anything else,
     * then the listener hears the state, then a refused setting, once.
     * Per call a frame that did not go out may be a missing port (the
     * native writes cannot tell), so it counts as one.
     */
    private ScannerException claimed(ScanPeriod period) {
        ScanProfile p = profile;
        ScannerException refused = null;
        try {
            refused = p == null ? null : p.applyTo(session);
            sent = p;
            sentRefusal = refused;
            if (refused != null && perCall) {
                throw new ScannerException(Reason.PORT_UNAVAILABLE, "profile: " + refused.getMessage());
            }
        } catch (ScannerException e) {
            lost(period);
            return e;
        }
        if (!perCall) {
            works(period);
        }
        if (refused != null && period != null) {
            ScanListener l = period.listener();
            ScannerException e = refused;
            period.event(() -> l.onProfileRefused(e));
        }
        return null;
    }

    /**
     * The port thread's open: on a busy port whose engine can wait, first
     * the wait for the holder's release (up to {@link #MAX_BACKOFF_MS},
     * ended by {@link #wake()}), then the open at once; otherwise
     * {@link #open(ScanPeriod)}.
     *
     * @return the refusal or failure; null once the session is held, or
     *         when the wait ended without a free port (the caller comes
     *         back after what woke it)
     */
    ScannerException openWhenFree(ScanPeriod period) {
        if (awaitingFree) {
            try {
                if (!engine.awaitPortFree(MAX_BACKOFF_MS)) {
                    return null;
                }
            } catch (ScannerException e) {
                awaitingFree = false;
                lost(period);
                return e;
            }
            awaitingFree = false;
        }
        return open(period);
    }

    /** A call on the port succeeded: the port is ours. */
    void works(ScanPeriod period) {
        backoffMs = 0;
        nextTryNanos = clock.nanoTime();
        State was = state;
        state = State.READY;
        if (was != State.READY) {
            tell(period, was);
        }
    }

    /** The port went away: the session is let go (the adapter is kept), backed off, and told once. */
    void lost(ScanPeriod period) {
        lost(period, Runnable::run);
    }

    /**
     * As {@link #lost(ScanPeriod)}, the telling passed through {@code after}:
     * the result thread, so that a request that found the port lost has
     * failed before the listener hears it.
     */
    void lost(ScanPeriod period, Executor after) {
        drop(); // the per-call adapter too, so that the next claim sends the profile again
        // The next try is set before the listener hears of the loss, so
        // that whatever the listener does next (the test moving the clock)
        // counts towards it.
        backOff();
        if (state != State.LOST) {
            state = State.LOST;
            tell(period, null, after);
        }
    }

    /** Refused by a holder: an engine that can wait for its release tries again then, others after the back-off. */
    private void busy(ScanPeriod period, ScannerException e) {
        // The next try is set before the telling, as for a loss.
        if (engine.canAwaitPortFree()) {
            awaitingFree = true;
            nextTryNanos = clock.nanoTime();
        } else {
            backOff();
        }
        if (state != State.BUSY) {
            state = State.BUSY;
            refusal = e;
            tell(period, null);
        }
    }

    /** Tells a period that has not heard it the state the port is in now. */
    void tellState(ScanPeriod period) {
        if (state != State.UNTRIED) {
            tell(period, State.UNTRIED);
        }
    }

    /** Tells the period the current state, reached from state was (null: a fall from a working port). */
    private void tell(ScanPeriod period, State was) {
        tell(period, was, Runnable::run);
    }

    /** As above, the event handed to the period through {@code after}; the state is the one of now. */
    private void tell(ScanPeriod period, State was, Executor after) {
        if (period == null) {
            return;
        }
        ScanListener l = period.listener();
        Runnable event;
        switch (state) {
            case READY:
                event = was == State.BUSY ? l::onPortFree : was == State.LOST ? l::onPortBack : l::onPortReady;
                break;
            case BUSY:
                ScannerException e = refusal;
                event = () -> l.onPortBusy(e);
                break;
            case LOST:
                event = l::onPortLost;
                break;
            default:
                return;
        }
        after.execute(() -> period.event(event));
    }

    private void backOff() {
        backoffMs = backoffMs == 0 ? FIRST_BACKOFF_MS : Math.min(MAX_BACKOFF_MS, backoffMs * 2);
        nextTryNanos = clock.nanoTime() + backoffMs * PortClock.NANOS_PER_MS;
    }

    /** The scanner closes: lets the port go. */
    void release() {
        drop();
    }

    /** Closes the session; one that throws on close (an app's own engine) is logged and let go all the same. */
    private void drop() {
        PortSession s = session;
        sent = null; // the next claim sends the profile again
        if (s != null) {
            session = null;
            try {
                s.close();
            } catch (Throwable t) {
                LOG.log(Level.WARNING, "the engine's session threw on close; it is let go", t);
            }
        }
    }
}
