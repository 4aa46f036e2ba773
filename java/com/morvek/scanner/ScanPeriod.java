package com.morvek.scanner;

import java.util.ArrayDeque;
import java.util.Iterator;
import java.util.concurrent.Executor;
import java.util.concurrent.RejectedExecutionException;
import java.util.logging.Logger;

/**
 * One period of scanning, from startScanning to stopScanning: keeps the
 * listener's events whole and in order, at most
 * {@link BarcodeScanner#MAX_QUEUED_SCANS} scans of them (past that the
 * oldest scan is dropped and counted), and hands them to the app's
 * executor one at a time. The hand-over runs on the scanner's event
 * thread, never on the port thread, so that a direct executor runs the
 * listener there and the port is read on meanwhile.
 */
final class ScanPeriod {
    private static final Logger LOG = Logger.getLogger("com.morvek.scanner");

    private final Executor executor;
    private final ScanListener listener;
    private final CallbackThread events;
    private final ArrayDeque<Object> pending = new ArrayDeque<>(); // ScanData or Runnable; guarded by this
    private int queuedScans; // guarded by this
    private int dropped; // guarded by this; not yet reported
    private boolean draining; // guarded by this; a drain is with the executor
    private volatile boolean active = true;
    /** Port thread only: the port's state has been told to this period. */
    boolean told;

    ScanPeriod(Executor executor, ScanListener listener, CallbackThread events) {
        this.executor = executor;
        this.listener = listener;
        this.events = events;
    }

    void deactivate() {
        active = false;
    }

    boolean active() {
        return active;
    }

    /** A scan, queued behind the events before it; the oldest waiting scan goes when the queue is full. */
    void scan(ScanData scan) {
        synchronized (this) {
            if (!active) {
                return;
            }
            if (queuedScans == BarcodeScanner.MAX_QUEUED_SCANS) {
                for (Iterator<Object> i = pending.iterator(); i.hasNext();) {
                    Object oldest = i.next();
                    if (oldest instanceof ScanData) {
                        i.remove();
                        queuedScans--;
                        dropped++;
                        LOG.warning("dropped a scan of " + ((ScanData) oldest).length()
                                + " bytes: the listener is " + BarcodeScanner.MAX_QUEUED_SCANS + " scans behind");
                        break;
                    }
                }
            }
            pending.add(scan);
            queuedScans++;
        }
        handOver();
    }

    /** A port-state event or an error, queued behind the events before it. */
    void event(Runnable call) {
        synchronized (this) {
            if (!active) {
                return;
            }
            pending.add(call);
        }
        handOver();
    }

    ScanListener listener() {
        return listener;
    }

    private void handOver() {
        synchronized (this) {
            if (draining) {
                return;
            }
            draining = true;
        }
        events.post(this::hand);
    }

    /** Runs on the event thread: gives the executor a drain of the waiting events. */
    private void hand() {
        try {
            executor.execute(this::drain);
        } catch (RejectedExecutionException e) {
            // The app's executor is gone: nothing can be delivered any more.
            active = false;
            synchronized (this) {
                pending.clear();
                queuedScans = 0;
                draining = false;
            }
        }
    }

    /** Runs on the app's executor: the waiting events, oldest first. */
    private void drain() {
        boolean emptied = false;
        try {
            for (;;) {
                Object next;
                int droppedNow = 0;
                synchronized (this) {
                    next = pending.poll();
                    if (next == null) {
                        draining = false;
                        emptied = true;
                        return;
                    }
                    if (next instanceof ScanData) {
                        queuedScans--;
                        droppedNow = dropped;
                        dropped = 0;
                    }
                }
                if (!active) {
                    continue;
                }
                if (droppedNow > 0) {
                    listener.onScansDropped(droppedNow);
                }
                if (next instanceof ScanData) {
                    listener.onScanData((ScanData) next);
                } else {
                    ((Runnable) next).run();
                }
            }
        } finally {
            if (!emptied) {
                // The listener threw: the rest goes out in a task of its
                // own, and the exception reaches the executor.
                events.post(this::hand);
            }
        }
    }
}
