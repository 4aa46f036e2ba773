package com.morvek.scanner;

import java.util.ArrayDeque;
import java.util.concurrent.Executor;
import java.util.concurrent.RejectedExecutionException;

/**
 * One period of scanning, from startScanning to stopScanning: hands the
 * listener's events to the app's executor one at a time, in order, and
 * keeps the port-loss and busy state and their back-off. The event methods
 * are called by the port thread only.
 */
final class ScanPeriod {
    static final long FIRST_BACKOFF_MS = 50;
    static final long MAX_BACKOFF_MS = 2000;

    private final Executor executor;
    private final ScanListener listener;
    private final ArrayDeque<Runnable> pending = new ArrayDeque<>();
    private boolean draining; // a drain task is with the executor
    private volatile boolean active = true;

    // Port thread only.
    private boolean portLost;
    private boolean busyReported;
    private long backoffMs;
    private long nextReadNanos = System.nanoTime();

    ScanPeriod(Executor executor, ScanListener listener) {
        this.executor = executor;
        this.listener = listener;
    }

    void deactivate() {
        active = false;
    }

    boolean active() {
        return active;
    }

    /** Milliseconds until the next read may start (0 or less: now). */
    long msUntilNextRead() {
        long left = nextReadNanos - System.nanoTime();
        return left <= 0 ? 0 : Math.max(1, left / 1_000_000);
    }

    /** A per-call read's text: a scan unless empty (nothing arrived). */
    void scanText(String data) {
        portWorks();
        if (!data.isEmpty()) {
            ScanData scan = ScanData.ofText(data, System.nanoTime());
            post(() -> listener.onScanData(scan));
        }
    }

    /** A scan from the held port. */
    void scan(ScanData scan) {
        portWorks();
        post(() -> listener.onScanData(scan));
    }

    /** A read or an open found no port, or the held port was lost: report once, back off. */
    void portMissing() {
        if (!portLost) {
            portLost = true;
            post(listener::onPortLost);
        }
        backOff();
    }

    /** Another owner holds the port: report once, retry as for a lost port. */
    void portBusy(ScannerException refusal) {
        if (!busyReported) {
            busyReported = true;
            post(() -> listener.onError(refusal));
        }
        backOff();
    }

    /** A read gave an answer or a session opened: the port is back and free. */
    void portWorks() {
        backoffMs = 0;
        busyReported = false;
        if (portLost) {
            portLost = false;
            post(listener::onPortBack);
        }
    }

    /** The next read or open waits longer: 50 ms, doubling up to 2 s. */
    private void backOff() {
        backoffMs = backoffMs == 0 ? FIRST_BACKOFF_MS : Math.min(MAX_BACKOFF_MS, backoffMs * 2);
        nextReadNanos = System.nanoTime() + backoffMs * 1_000_000;
    }

    /** The engine threw while reading; the port thread stops reading for this session. */
    void failed(Throwable error) {
        post(() -> listener.onError(error));
    }

    private void post(Runnable event) {
        synchronized (this) {
            if (!active) {
                return;
            }
            pending.add(event);
            if (draining) {
                return;
            }
            draining = true;
        }
        hand();
    }

    private void hand() {
        try {
            executor.execute(this::drain);
        } catch (RejectedExecutionException e) {
            // The app's executor is gone: nothing can be delivered any more.
            active = false;
            synchronized (this) {
                pending.clear();
                draining = false;
            }
        }
    }

    /** Runs on the app's executor: the waiting events, oldest first. */
    private void drain() {
        boolean emptied = false;
        try {
            for (;;) {
                Runnable next;
                synchronized (this) {
                    next = pending.poll();
                    if (next == null) {
                        draining = false;
                        emptied = true;
                        return;
                    }
                }
                if (active) {
                    next.run();
                }
            }
        } finally {
            if (!emptied) {
                // The listener threw: the rest goes out in a task of its
                // own, and the exception reaches the executor.
                hand();
            }
        }
    }
}
