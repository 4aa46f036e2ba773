package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CancellationException;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.Executor;
import java.util.logging.Logger;

/**
 * What a {@link BarcodeScanner} is made of, without a reference back to
 * it, so that a scanner the app has forgotten can be found unreachable and
 * closed: the request queue, the scanning period, and three threads. The
 * port thread makes every engine call and runs no app code; the result
 * thread completes the request futures (their non-async stages run there);
 * the event thread hands listener calls to the app's executor.
 */
final class ScannerCore {
    /**
     * How long one wait for a scan lasts. Requests, stopScanning and close
     * wake it at once, so its length only sets how often an idle scanner
     * goes round its loop.
     */
    static final int WAIT_MS = 1000;

    /**
     * The longest close() waits, in all, for the port thread and then for
     * the result thread; past it the requests whose futures have not
     * completed are failed, and close() returns.
     */
    static final long CLOSE_BOUND_MS = 2000;

    private static final Logger LOG = Logger.getLogger("com.morvek.scanner");

    /** A request on the held port. */
    interface Call<T> {
        T on(PortSession session) throws ScannerException;
    }

    private final Object lock = new Object();
    private final ArrayDeque<Runnable> requests = new ArrayDeque<>(); // guarded by lock
    private final List<CompletableFuture<?>> unfinished = new ArrayList<>(); // guarded by lock; may hold done ones
    private ScanPeriod period; // guarded by lock; null while not scanning
    private boolean used; // guarded by lock; the port is held from the first use
    private boolean closed; // guarded by lock
    private final PortClock clock;
    private final HeldPort port;
    private final Thread portThread;
    private final CallbackThread results = new CallbackThread("scanner-results");
    private final CallbackThread events = new CallbackThread("scanner-events");

    ScannerCore(SessionEngine engine) {
        clock = PortClock.of(engine);
        port = new HeldPort(engine, clock);
        portThread = new Thread(this::portLoop, "scanner-port");
        portThread.setDaemon(true);
        portThread.start();
    }

    void startScanning(Executor executor, ScanListener listener) {
        synchronized (lock) {
            ensureOpen();
            endPeriod();
            period = new ScanPeriod(executor, listener, events);
            used = true;
            lock.notifyAll();
        }
        port.wake();
    }

    void stopScanning() {
        synchronized (lock) {
            ensureOpen();
            endPeriod();
        }
        port.wake();
    }

    boolean isScanning() {
        synchronized (lock) {
            return period != null && period.active();
        }
    }

    /** Queues a request and wakes the port thread; the future completes on the result thread. */
    <T> CompletableFuture<T> submit(Call<T> call) {
        CompletableFuture<T> future = new CompletableFuture<>();
        synchronized (lock) {
            ensureOpen();
            used = true;
            unfinished.removeIf(CompletableFuture::isDone);
            unfinished.add(future);
            requests.add(() -> run(call, future));
            lock.notifyAll();
        }
        port.wake();
        return future;
    }

    /**
     * Keeps the profile for every claim of the port from now on, also when
     * the port is not ours now, and sends it as a request (unless the
     * request's own claim of the port sent it).
     */
    CompletableFuture<Void> profile(ScanProfile profile) {
        synchronized (lock) {
            ensureOpen();
            port.profile(profile);
        }
        return submit(s -> {
            ScannerException refused = port.sendProfile();
            if (refused != null) {
                throw refused;
            }
            return null;
        });
    }

    /** Ends the scanner without waiting: the port thread runs what is queued, lets the port go and ends. */
    void end() {
        synchronized (lock) {
            if (!closed) {
                closed = true;
                endPeriod();
                lock.notifyAll();
            }
        }
        port.wake();
    }

    /**
     * Ends the scanner and waits for the port thread, then for the
     * completions of the requests it ran (neither on the thread itself),
     * at most {@link #CLOSE_BOUND_MS} in all. Past it (an engine call that
     * does not return, a future's stage that waits for a completion queued
     * behind it) the requests not yet run are dropped and every future not
     * yet completed fails, which also ends a stage's wait for one of them.
     */
    void close() {
        end();
        long deadline = System.nanoTime() + CLOSE_BOUND_MS * PortClock.NANOS_PER_MS;
        boolean interrupted = join(portThread, deadline);
        interrupted |= join(results.thread(), deadline);
        if (alive(portThread) || alive(results.thread())) {
            abandon();
        }
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    /** Whether a thread other than the caller still runs. */
    private static boolean alive(Thread thread) {
        return thread != Thread.currentThread() && thread.isAlive();
    }

    /**
     * Waits until the thread has ended (unless it is the caller) or the
     * deadline of System.nanoTime() has passed; true when the caller was
     * interrupted meanwhile.
     */
    private static boolean join(Thread thread, long deadlineNanos) {
        boolean interrupted = false;
        for (long left; alive(thread) && (left = deadlineNanos - System.nanoTime()) > 0;) {
            try {
                thread.join(Math.max(1, left / PortClock.NANOS_PER_MS));
            } catch (InterruptedException e) {
                interrupted = true;
            }
        }
        return interrupted;
    }

    /** close() gave up waiting: fails what has not completed, so that nothing waits for it for ever. */
    private void abandon() {
        List<CompletableFuture<?>> left;
        synchronized (lock) {
            requests.clear();
            left = new ArrayList<>(unfinished);
            unfinished.clear();
        }
        LOG.warning("close() stopped waiting after " + CLOSE_BOUND_MS + " ms (an engine call or a future's stage"
                + " does not return); requests not completed fail");
        for (CompletableFuture<?> f : left) {
            f.completeExceptionally(new CancellationException("the scanner closed before the request completed"));
        }
    }

    private void ensureOpen() {
        if (closed) {
            throw new IllegalStateException("the scanner is closed");
        }
    }

    private void endPeriod() {
        if (period != null) {
            period.deactivate();
            period = null;
        }
    }

    /** The current period, or null; drops one whose executor refused a task. */
    private ScanPeriod current() {
        synchronized (lock) {
            if (period != null && !period.active()) {
                period = null;
            }
            return period;
        }
    }

    /** Port thread: the current period, which has heard the port's state before anything else. */
    private ScanPeriod told() {
        ScanPeriod p = current();
        if (p != null && !p.told) {
            p.told = true;
            port.tellState(p);
        }
        return p;
    }

    /**
     * The port thread: queued requests first; then, once the port is in
     * use, holding it (opening it again after the back-off when it was
     * refused or lost) and taking the scans it reads, delivered while
     * scanning and dropped otherwise.
     */
    private void portLoop() {
        try {
            loop();
        } finally {
            // Whatever an app's engine threw, the port is let go and the
            // threads end, so that close() does not wait for them.
            port.release();
            results.end();
            events.end();
        }
    }

    private void loop() {
        for (;;) {
            Runnable request;
            synchronized (lock) {
                for (;;) {
                    request = requests.poll();
                    ScanPeriod p = current();
                    if (request != null || closed) {
                        break;
                    }
                    if (!used || (port.session() != null && !port.keepsScans() && p == null)) {
                        waitOnLock(0);
                    } else if (port.backingOff()) {
                        waitUntil(port.nextTryNanos());
                    } else {
                        break;
                    }
                }
            }
            ScanPeriod p = told();
            if (request != null) {
                request.run();
                collect();
            } else if (closed) {
                break;
            } else if (port.session() == null) {
                try {
                    port.openWhenFree(p);
                } catch (Throwable t) {
                    failed(p, t);
                }
            } else {
                take(p, WAIT_MS);
            }
        }
    }

    /** Runs a request on the held port, opening it first when it is not held; completes its future. */
    private <T> void run(Call<T> call, CompletableFuture<T> future) {
        ScanPeriod p = told();
        try {
            PortSession s = port.session();
            if (s == null) {
                ScannerException refused = port.open(p);
                s = port.session();
                if (s == null) {
                    throw refused;
                }
            }
            T value = call.on(s);
            results.post(() -> future.complete(value));
            port.works(p);
        } catch (ScannerException e) {
            results.post(() -> future.completeExceptionally(e));
            if (e.reason() == Reason.PORT_UNAVAILABLE) {
                port.lost(p, results::post);
            }
        } catch (Throwable t) {
            results.post(() -> future.completeExceptionally(t));
        }
    }

    /** After a request: the scans the session kept while it ran, without waiting for new ones. */
    private void collect() {
        while (port.keepsScans() && take(told(), 0)) {
            // one more
        }
    }

    /** One wait on the session; true when it gave a scan. An engine that throws ends the period. */
    private boolean take(ScanPeriod p, int timeoutMs) {
        ScanData scan;
        try {
            scan = port.session().awaitScan(timeoutMs);
        } catch (ScannerException e) {
            port.lost(p);
            return false;
        } catch (Throwable t) {
            failed(p, t);
            return false;
        }
        port.works(p);
        if (scan == null) {
            return false;
        }
        if (p != null && p.active()) {
            p.scan(scan);
        } else {
            LOG.info("dropped a scan of " + scan.length() + " bytes: the scanner holds the port but is not scanning");
        }
        return true;
    }

    /**
     * The engine threw (for example the native library is missing): the
     * port is let go and not tried again until the next use, and the
     * period ends with onError.
     */
    private void failed(ScanPeriod p, Throwable t) {
        port.release();
        synchronized (lock) {
            used = false;
            if (period == p) {
                period = null; // left active, so that the error is still delivered
            }
        }
        if (p != null) {
            ScanListener l = p.listener();
            p.event(() -> l.onError(t));
        }
    }

    private void waitOnLock(long ms) {
        try {
            lock.wait(ms);
        } catch (InterruptedException e) {
            // Only this class runs on the port thread; an interrupt from
            // outside changes nothing, the loop looks at its state again.
        }
    }

    private void waitUntil(long deadlineNanos) {
        try {
            clock.await(lock, deadlineNanos);
        } catch (InterruptedException e) {
            // As above.
        }
    }
}
