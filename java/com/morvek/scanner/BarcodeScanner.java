package com.morvek.scanner;

import java.io.Closeable;
import java.util.ArrayDeque;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.Executor;

/**
 * The scan engine for an app: one owner of the port, scans delivered to
 * the app's executor, requests answered through futures.
 *
 * <h2>Threads</h2>
 * A scanner starts one thread of its own, the port thread, which makes
 * every call of its {@link ScanEngine}, one at a time, so no two engine
 * calls ever overlap. Requests (every method that returns a
 * {@link CompletableFuture}) go into one first-in first-out queue and run
 * on the port thread in the order they were made; a reply is never taken
 * for a scan.
 *
 * <p>Every public method may be called from any thread, the UI thread
 * included. None of them blocks, except {@link #close()}, which waits for
 * the port thread to finish (see there).
 *
 * <h2>Scanning with a session (the native engine)</h2>
 * When the engine offers a session ({@link ScanEngine#openSession()}, as
 * {@link NativeScanEngine} does), the port thread holds the port in a
 * session from {@link #startScanning} to {@link #stopScanning()} and
 * waits for scans on it. Then:
 * <ul>
 * <li>every request wakes the wait and runs on the held port at once: a
 * question is answered within a few milliseconds of the engine's reply
 * (within one reply's time on the line when the engine answers at once);
 * <li>no scan is lost around a request: a scan that arrives while a
 * request runs is kept and delivered after it, whole;
 * <li>{@link #stopScanning()} returns at once and {@link #close()} within
 * about 50 ms when nothing else is queued; the session is closed when
 * scanning stops;
 * <li>each scan comes with its bytes exactly as the engine sent them and
 * the time of its first byte ({@link ScanListener#onScanData(ScanData)});
 * <li>one session owns the port: a second scanner that scans on the same
 * port (in this process or another) gets
 * {@link ScanListener#onError(Throwable)} once with a
 * {@link ScannerException} of reason {@code PORT_BUSY}, its requests fail
 * with {@code PORT_BUSY} meanwhile, and it retries as for a lost port
 * until the port is free.
 * </ul>
 * Requests made while not scanning run per call, as below.
 *
 * <h2>Without a session (an engine of the eleven operations)</h2>
 * While scanning, the port thread runs every queued request, then one
 * {@link ScanEngine#readData()}, then the requests queued meanwhile, and
 * so on: a request waits behind at most one scan read (up to about 1 s
 * with the native operations) plus the requests queued before it. The
 * native operations flush the port at the start of every call, and scan
 * data is only read while a read is waiting: data that the engine sends
 * while a request's exchange runs (about 1 ms for a question answered at
 * once, 100 ms for a setting write) is lost. Keep requests rare while the
 * user scans.
 *
 * <h2>Results and errors</h2>
 * A request's future completes on the port thread: dependent stages added
 * with the non-async methods ({@code thenAccept}, ...) run on the port
 * thread and hold it up, so add them with an executor
 * ({@code thenAcceptAsync(action, mainExecutor)}); such a stage must never
 * wait for a later request's result, which only the port thread could
 * produce. Input that no engine could take is refused at once with
 * {@link IllegalArgumentException}, with nothing queued. A request that
 * fails at the engine completes its future exceptionally with a
 * {@link ScannerException}: {@code PORT_UNAVAILABLE} when a question or read
 * got null (the port could not be opened or configured) or the held port
 * was lost, {@code NO_ANSWER} when no reply was accepted within the
 * engine's wait (the empty text without a session), {@code NOT_SENT} when
 * a write did not go out (without a session the native writes report a
 * port failure the same way, so for writes the two cannot be told apart),
 * {@code BAD_ANSWER} when an answer is not of the form asked for,
 * {@code PORT_BUSY} as above. When the engine itself throws (for example
 * the native library cannot be loaded), the future completes exceptionally
 * with what it threw. After {@link #close()} every method but
 * {@code close()} throws {@link IllegalStateException}.
 */
public final class BarcodeScanner implements Closeable {
    /** The longest free command text, in bytes of modified UTF-8. */
    public static final int MAX_COMMAND_BYTES = 255;
    /** The smallest timeout setting. */
    public static final int MIN_TIMEOUT = -999;
    /** The largest timeout setting. */
    public static final int MAX_TIMEOUT = 9999;

    private final Object lock = new Object();
    private final ArrayDeque<Runnable> requests = new ArrayDeque<>(); // guarded by lock
    private ScanPeriod period; // guarded by lock; null while not scanning
    private boolean closed; // guarded by lock
    private final HeldPort port;
    private final ScanEngine engine;
    private final Thread portThread;

    /**
     * Makes a scanner and starts its port thread (a daemon thread named
     * "scanner-port"). Sends nothing to the engine and opens no session.
     *
     * @param engine the engine; the scanner must be its only user
     * @throws IllegalArgumentException when the engine is null
     */
    public BarcodeScanner(ScanEngine engine) {
        if (engine == null) {
            throw new IllegalArgumentException("no engine");
        }
        this.engine = engine;
        port = new HeldPort(engine);
        portThread = new Thread(this::portLoop, "scanner-port");
        portThread.setDaemon(true);
        portThread.start();
    }

    /**
     * Starts reading scan data and delivering it to the listener. Each scan
     * is delivered once, whole and in order through
     * {@link ScanListener#onScanData(ScanData)} (whose default passes the
     * text to {@link ScanListener#onScan(String)}), and every listener
     * method runs on {@code executor} only, one call at a time even on an
     * executor of several threads. On Android pass the main thread's
     * executor ({@code context.getMainExecutor()} or
     * {@code ContextCompat.getMainExecutor(context)}). Replaces a listener
     * given before; what was read for that one and not yet delivered is
     * dropped. If the executor rejects a task, scanning stops silently.
     * Returns at once; the port thread opens the session, if the engine
     * offers one.
     *
     * @param executor where the listener runs
     * @param listener what receives the scans
     * @throws IllegalArgumentException when either is null
     * @throws IllegalStateException after {@link #close()}
     */
    public void startScanning(Executor executor, ScanListener listener) {
        if (executor == null || listener == null) {
            throw new IllegalArgumentException("executor and listener are required");
        }
        synchronized (lock) {
            ensureOpen();
            endPeriod();
            period = new ScanPeriod(executor, listener);
            lock.notifyAll();
        }
        port.wake();
    }

    /**
     * Stops scanning; returns at once without waiting for the port. With a
     * session the wait for a scan is woken and the port thread closes the
     * session right after. Without one, a read in progress cannot be cut
     * short (the native one lasts up to about 1 s): what it returns is
     * dropped, and queued requests run after it. Called on the executor's
     * thread (the main thread on Android), no listener call follows it;
     * called on another thread, a listener call that was about to begin
     * may still run. Does nothing when not scanning.
     *
     * @throws IllegalStateException after {@link #close()}
     */
    public void stopScanning() {
        synchronized (lock) {
            ensureOpen();
            endPeriod();
        }
        port.wake();
    }

    /**
     * Tells whether the scanner is scanning: from {@link #startScanning}
     * until {@link #stopScanning()}, {@link #close()}, an engine that threw
     * while reading, or an executor that refused a task. Any thread; does
     * not block.
     *
     * @return true while scanning
     */
    public boolean isScanning() {
        synchronized (lock) {
            return period != null && period.active();
        }
    }

    /**
     * Sends the engine its open frame. Without a session this does not keep
     * the port open: the native operations open and close the port for
     * every call.
     *
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> openEngine() {
        return submit(e -> done(e.openDev(), "open frame"), s -> {
            s.writeOpen(true);
            return null;
        });
    }

    /**
     * Sends the engine its close frame.
     *
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> closeEngine() {
        return submit(e -> done(e.closeDev(), "close frame"), s -> {
            s.writeOpen(false);
            return null;
        });
    }

    /**
     * Enables scan types, one frame each, in the order given, as one
     * request. Stops at the first frame that does not go out.
     *
     * @param types the types (none: nothing is sent)
     * @return completes when every frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalArgumentException when a type is null
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> enable(ScanType... types) {
        return typeFrames(types, true);
    }

    /**
     * Disables scan types, one frame each, in the order given, as one
     * request. Stops at the first frame that does not go out.
     *
     * @param types the types (none: nothing is sent)
     * @return completes when every frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalArgumentException when a type is null
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> disable(ScanType... types) {
        return typeFrames(types, false);
    }

    /**
     * Asks whether a scan type is enabled. With a session this is one
     * exchange whose answer tells "enabled", "disabled" and no answer apart.
     * Without one, the engine's check says only "enabled" or "not": after a
     * "not", the scanner asks once more with a setting question for the
     * type's code, which sends the same frame and whose result tells an
     * answered "disabled" from no answer and from a port failure. What
     * stays ambiguous then: a reply that arrives too late for the check but
     * in time for the second question is taken as the answer, and the
     * engine treats both questions alike, so an engine that answers neither
     * reads as {@code NO_ANSWER} whatever its state. Either way false means
     * the engine answered "disabled".
     *
     * @param type the type
     * @return true or false as the engine answered; {@code NO_ANSWER},
     *         {@code PORT_UNAVAILABLE} or {@code BAD_ANSWER} otherwise
     * @throws IllegalArgumentException when the type is null
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Boolean> isEnabled(ScanType type) {
        ScanType t = typeList(new ScanType[] {type})[0];
        return submit(e -> Answers.enabled(e, t), s -> s.checkType(t.index()));
    }

    /**
     * Reads the engine's timeout setting. Only an answer of an optional '-'
     * followed by ASCII digits ("0005", "-999"), of a value within -999 to
     * 9999, is taken; any other answer is {@code BAD_ANSWER}.
     *
     * @return the setting, -999 to 9999; {@code NO_ANSWER},
     *         {@code PORT_UNAVAILABLE} or {@code BAD_ANSWER} otherwise
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Integer> engineTimeout() {
        return submit(e -> Answers.timeout(e.getTimeout()), s -> Answers.timeout(s.timeout()));
    }

    /**
     * Sets the engine's timeout setting. Without a session the native
     * engine waits about 100 ms after the write; with one, the write
     * completes once the frame has left the port.
     *
     * @param value -999 to 9999
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalArgumentException when the value is out of range
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> setEngineTimeout(int value) {
        if (value < MIN_TIMEOUT || value > MAX_TIMEOUT) {
            throw new IllegalArgumentException("timeout " + value + " is not in " + MIN_TIMEOUT + ".." + MAX_TIMEOUT);
        }
        return submit(e -> done(e.setTimeout(value), "timeout " + value), s -> {
            s.setTimeout(value);
            return null;
        });
    }

    /**
     * Reads any setting by its number. An engine that does not know the
     * number refuses the question, which the native engine reports as no
     * answer, like silence; an empty value reads the same.
     *
     * @param number the setting number
     * @return the value as the engine sent it; {@code NO_ANSWER} or
     *         {@code PORT_UNAVAILABLE} otherwise
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<String> setting(int number) {
        String what = "setting " + number;
        return submit(e -> Answers.text(e.queryData(number), what), s -> Answers.text(s.setting(number), what));
    }

    /**
     * Sends a free command text. Without a session the native engine waits
     * about 100 ms after the write.
     *
     * @param text at most {@value #MAX_COMMAND_BYTES} bytes in modified UTF-8
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalArgumentException when the text is null or too long
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> sendCommand(String text) {
        if (text == null || Answers.modifiedUtf8Length(text) > MAX_COMMAND_BYTES) {
            throw new IllegalArgumentException("a command must be a text of at most " + MAX_COMMAND_BYTES + " bytes");
        }
        return submit(e -> done(e.sendCommand(text), "command"), s -> {
            s.sendCommand(text);
            return null;
        });
    }

    /**
     * Sends the engine its fixed profile command. Without a session the
     * native engine waits about 100 ms after the write.
     *
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> profile() {
        return submit(e -> done(e.profileScanType(), "profile"), s -> {
            s.profile();
            return null;
        });
    }

    /**
     * Stops scanning, lets the requests already queued run, closes the
     * session, ends the port thread and waits for it. With a session the
     * wait for a scan is woken at once: with nothing queued this returns
     * within about 50 ms (a scan still arriving is finished first, at most
     * its length on the line plus 20 ms). Without one it blocks for the
     * engine call in progress (a native read: up to about 1.1 s, plus the
     * rest of a scan message still arriving), within 1.5 s with nothing
     * queued. Queued requests add their time (a native question up to about
     * 0.1 s, a per-call setting write about 0.1 s each). Called on the port
     * thread itself (from a future's dependent stage, or a listener on a
     * direct executor) it returns at once and the thread ends after the
     * current call. Safe to call again: later calls return at once.
     * Interrupting the caller does not cut the wait short; the interrupt
     * is kept.
     */
    @Override
    public void close() {
        synchronized (lock) {
            if (!closed) {
                closed = true;
                endPeriod();
                lock.notifyAll();
            }
        }
        port.wake();
        if (Thread.currentThread() == portThread) {
            return;
        }
        boolean interrupted = false;
        while (portThread.isAlive()) {
            try {
                portThread.join();
            } catch (InterruptedException e) {
                interrupted = true;
            }
        }
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    private static Void done(boolean sent, String what) throws ScannerException {
        Answers.sent(sent, what);
        return null;
    }

    /** The enable or disable frames of the types, in order, as one request. */
    private CompletableFuture<Void> typeFrames(ScanType[] types, boolean on) {
        ScanType[] copy = typeList(types);
        return submit(e -> {
            for (ScanType t : copy) {
                boolean sent = on ? e.enableType(t.index()) : e.disableType(t.index());
                Answers.sent(sent, (on ? "enable " : "disable ") + t);
            }
            return null;
        }, s -> {
            for (ScanType t : copy) {
                s.enableType(t.index(), on);
            }
            return null;
        });
    }

    private static ScanType[] typeList(ScanType[] types) {
        if (types == null) {
            throw new IllegalArgumentException("no type list");
        }
        ScanType[] copy = types.clone();
        for (ScanType t : copy) {
            if (t == null) {
                throw new IllegalArgumentException("a scan type is null");
            }
        }
        return copy;
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
            lock.notifyAll();
        }
    }

    /** Queues a request, in its per-call and its held-port form, and wakes the port thread. */
    private <T> CompletableFuture<T> submit(HeldPort.PerCall<T> perCall, HeldPort.OnPort<T> onPort) {
        CompletableFuture<T> future = new CompletableFuture<>();
        synchronized (lock) {
            ensureOpen();
            requests.add(() -> {
                try {
                    future.complete(port.request(perCall, onPort));
                } catch (Throwable t) {
                    future.completeExceptionally(t);
                }
            });
            lock.notifyAll();
        }
        port.wake();
        return future;
    }

    /**
     * The port thread: queued requests first; while scanning, one step of
     * scanning (a wait on the session, or a per-call read); when scanning
     * has stopped, the session closed.
     */
    private void portLoop() {
        for (;;) {
            Runnable request;
            ScanPeriod reading = null;
            synchronized (lock) {
                for (;;) {
                    request = requests.poll();
                    if (request != null) {
                        break;
                    }
                    if (period != null && !period.active()) {
                        period = null; // the app's executor refused a task
                    }
                    reading = period;
                    if (reading == null && port.engaged()) {
                        break;
                    }
                    if (reading != null) {
                        long wait = reading.msUntilNextRead();
                        if (wait <= 0) {
                            break;
                        }
                        waitOnLock(wait);
                    } else if (closed) {
                        return;
                    } else {
                        waitOnLock(0);
                    }
                }
            }
            if (request != null) {
                request.run();
                collect();
            } else if (reading == null) {
                port.release();
            } else {
                scan(reading);
            }
        }
    }

    /** While scanning, the scans kept during the request just run. */
    private void collect() {
        ScanPeriod current;
        synchronized (lock) {
            current = period;
        }
        if (current != null) {
            scanning(current, () -> port.collect(current));
        }
    }

    /** One step of scanning: a wait on the session, or a per-call read. */
    private void scan(ScanPeriod reading) {
        scanning(reading, () -> {
            if (!port.step(reading)) {
                String data = engine.readData();
                if (data == null) {
                    reading.portMissing();
                } else {
                    reading.scanText(data);
                }
            }
        });
    }

    /** Runs a step of scanning; an engine that throws ends the period. */
    private void scanning(ScanPeriod reading, Runnable step) {
        try {
            step.run();
        } catch (Throwable t) {
            port.release();
            synchronized (lock) {
                if (period == reading) {
                    period = null;
                }
            }
            reading.failed(t);
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
}
