package com.morvek.scanner;

import java.util.ArrayList;
import java.util.Collections;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Set;

/**
 * The fake engine's clock: the system's until the test takes it in hand,
 * then one that moves only by {@link #advance(long)}. Its scanners' back-off
 * pauses and its own waits (a question's budget, a scan wait's timeout, a
 * scripted delay) run on it.
 */
final class FakeClock extends PortClock {
    private volatile boolean manual;
    private long manualNanos; // guarded by this
    private final Set<Object> monitors = Collections.newSetFromMap(new IdentityHashMap<Object, Boolean>()); // guarded by this

    @Override
    synchronized long nanoTime() {
        return manual ? manualNanos : System.nanoTime();
    }

    @Override
    void await(Object monitor, long deadlineNanos) throws InterruptedException {
        if (!manual) {
            SYSTEM.await(monitor, deadlineNanos);
            return;
        }
        synchronized (this) {
            if (manualNanos - deadlineNanos >= 0) {
                return;
            }
            monitors.add(monitor);
        }
        // advance() notifies the monitor, which it can only take once this wait has let it go.
        monitor.wait();
    }

    /** From now on the clock moves only when the test moves it. */
    void takeInHand() {
        synchronized (this) {
            if (manual) {
                return;
            }
            manualNanos = System.nanoTime();
            manual = true;
        }
    }

    /** Moves the clock in hand forward and wakes every wait on it. */
    void advance(long ms) {
        List<Object> waiting;
        synchronized (this) {
            if (!manual) {
                throw new IllegalStateException("the clock runs on its own: take it in hand first");
            }
            manualNanos += ms * NANOS_PER_MS;
            waiting = new ArrayList<>(monitors);
        }
        for (Object m : waiting) {
            synchronized (m) {
                m.notifyAll();
            }
        }
    }
}
