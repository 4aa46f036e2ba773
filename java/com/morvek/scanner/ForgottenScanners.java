package com.morvek.scanner;

import java.lang.ref.ReferenceQueue;
import java.lang.ref.WeakReference;
import java.util.HashSet;
import java.util.Set;
import java.util.logging.Logger;

/**
 * Lets the port go for a scanner that the app stopped using without
 * closing it: each scanner is watched through a weak reference, and once
 * it has been garbage collected a daemon thread ("scanner-reaper", started
 * with the first scanner) ends its core, which closes the session and its
 * threads. A core never refers to its scanner, so the app's references
 * alone keep a scanner alive (a listener that refers to the scanner is one
 * of them).
 */
final class ForgottenScanners {
    private static final Logger LOG = Logger.getLogger("com.morvek.scanner");
    private static final ReferenceQueue<BarcodeScanner> QUEUE = new ReferenceQueue<>();
    private static final Set<Watch> WATCHED = new HashSet<>(); // guarded by itself
    private static Thread reaper; // guarded by WATCHED

    private ForgottenScanners() {
    }

    /** A scanner's weak reference, and the core to end when it is cleared. */
    private static final class Watch extends WeakReference<BarcodeScanner> {
        final ScannerCore core;

        Watch(BarcodeScanner scanner, ScannerCore core) {
            super(scanner, QUEUE);
            this.core = core;
        }
    }

    /** Watches the scanner until it is closed or collected. */
    static Object watch(BarcodeScanner scanner, ScannerCore core) {
        Watch w = new Watch(scanner, core);
        synchronized (WATCHED) {
            WATCHED.add(w);
            if (reaper == null) {
                reaper = new Thread(ForgottenScanners::reap, "scanner-reaper");
                reaper.setDaemon(true);
                reaper.start();
            }
        }
        return w;
    }

    /** The scanner was closed: no longer watched. */
    static void closed(Object watch) {
        synchronized (WATCHED) {
            WATCHED.remove(watch);
        }
    }

    private static void reap() {
        for (;;) {
            Watch w;
            try {
                w = (Watch) QUEUE.remove();
            } catch (InterruptedException e) {
                continue;
            }
            boolean forgotten;
            synchronized (WATCHED) {
                forgotten = WATCHED.remove(w);
            }
            if (forgotten) {
                LOG.warning("a BarcodeScanner was not closed: its port is let go now that it is unreachable");
                w.core.end();
            }
        }
    }
}
