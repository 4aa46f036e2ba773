package com.morvek.scanner;

import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.Iterator;
import java.util.List;

/**
 * The clock that a scanner's pauses run on: {@link #SYSTEM}, or a clock
 * that an engine in this package registers for itself (the fake engine's,
 * which its test moves by hand), so that back-off pauses pass in the
 * test's time.
 */
abstract class PortClock {
    /** {@link System#nanoTime()}, and waits of the same length. */
    static final PortClock SYSTEM = new PortClock() {
        @Override
        long nanoTime() {
            return System.nanoTime();
        }

        @Override
        void await(Object monitor, long deadlineNanos) throws InterruptedException {
            long left = deadlineNanos - System.nanoTime();
            if (left > 0) {
                monitor.wait(Math.max(1, left / NANOS_PER_MS));
            }
        }
    };

    static final long NANOS_PER_MS = 1_000_000;

    /** The engines with a clock of their own, by identity (an engine's equals may be anything). */
    private static final List<Registered> CLOCKS = new ArrayList<>(); // guarded by itself

    private static final class Registered extends WeakReference<Object> {
        final PortClock clock;

        Registered(Object engine, PortClock clock) {
            super(engine);
            this.clock = clock;
        }
    }

    /** The current time in nanoseconds; only differences mean anything. */
    abstract long nanoTime();

    /**
     * Waits on the monitor, which the caller holds, until it is notified
     * or this clock has reached the deadline; may return early.
     */
    abstract void await(Object monitor, long deadlineNanos) throws InterruptedException;

    /** Makes the clock the one of the engine's scanners. */
    static void register(Object engine, PortClock clock) {
        synchronized (CLOCKS) {
            for (Iterator<Registered> i = CLOCKS.iterator(); i.hasNext();) {
                if (i.next().get() == null) {
                    i.remove();
                }
            }
            CLOCKS.add(new Registered(engine, clock));
        }
    }

    /** The engine's clock: the one registered for it, or {@link #SYSTEM}. */
    static PortClock of(Object engine) {
        synchronized (CLOCKS) {
            for (Registered r : CLOCKS) {
                if (r.get() == engine) {
                    return r.clock;
                }
            }
            return SYSTEM;
        }
    }
}
