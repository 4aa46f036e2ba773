package com.morvek.scanner;

import java.io.Closeable;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.Executor;

/**
 * The scan engine for an app: one owner of the port, scans delivered to
 * the app's executor, requests answered through futures, the port's state
 * told to the listener.
 *
 * <h2>The port</h2>
 * The scanner holds the port from its first use ({@link #open()},
 * {@link #startScanning}, or any request) until {@link #close()}, in a
 * session when the engine offers one ({@link NativeScanEngine} does; an
 * engine of the eleven operations alone runs behind an adapter with the
 * same contract, one port cycle per call). Every request and every scan
 * goes through it. Scans that arrive while the scanner holds the port but
 * is not scanning are dropped (and logged), never delivered later. One
 * session owns the port: while another scanner of this app or another app
 * holds it, this one is refused with {@code PORT_BUSY}
 * ({@link ScannerException#holder()} says which), its requests fail so,
 * and it takes the port as soon as the holder lets it go (an engine that
 * cannot wait for the release, see {@link SessionEngine#canAwaitPortFree()},
 * tries again after 50 ms, doubling up to 2 s). The listener hears each change
 * ({@link ScanListener#onPortReady()}, {@code onPortBusy},
 * {@code onPortFree}, {@code onPortLost}, {@code onPortBack}).
 *
 * <h2>In an Activity</h2>
 * Make the scanner and start scanning in {@code onResume}; close it in
 * {@code onPause}, so that another screen or app can take the port:
 * <pre>{@code
 * protected void onResume() {
 *     super.onResume();
 *     scanner = new BarcodeScanner(new NativeScanEngine());
 *     scanner.startScanning(new Handler(Looper.getMainLooper())::post, listener);
 * }
 * protected void onPause() {
 *     scanner.close();
 *     super.onPause();
 * }
 * }</pre>
 * A scanner that is never closed keeps the port until it is garbage
 * collected (then the port is let go and a warning logged); a listener
 * that refers to the scanner, or to the Activity or one of its views
 * (which refer to the Activity), keeps it reachable for as long as the
 * scanner's threads run, that is, for good: close it in {@code onPause}.
 *
 * <h2>Threads</h2>
 * A scanner starts three daemon threads of its own. The port thread
 * ("scanner-port") makes every call of the engine, one at a time, in the
 * order the requests were made, and runs no app code: it reads on while
 * the app is busy. Request futures complete on the result thread
 * ("scanner-results"), so a future's non-async stages run there, one at a
 * time, and a slow one holds up the later completions, never the port;
 * such a stage must not wait for a later request's result. Listener calls
 * go to the app's executor, handed over by the event thread
 * ("scanner-events"), which runs them itself when the executor runs tasks
 * in the caller ({@code Runnable::run}); a listener may wait for a
 * request's result there. Scans wait for the listener whole and in order,
 * at most {@value #MAX_QUEUED_SCANS}; past that the oldest waiting scan is
 * dropped and reported ({@link ScanListener#onScansDropped(int)}), never
 * merged with another. What is one scan is the engine's bytes until the
 * line is quiet for 20 ms: two codes sent less than that apart come as
 * one scan.
 *
 * <p>Every public method may be called from any thread, the UI thread
 * included. None of them blocks, except {@link #close()}.
 *
 * <h2>On a session (the native engine)</h2>
 * Every request wakes the wait for a scan and runs on the held port at
 * once: a question is answered within a few milliseconds of the engine's
 * reply. No scan is lost around a request: a scan that arrives while a
 * request runs is kept and delivered after it, whole. {@link #close()}
 * returns within about 50 ms when nothing else is queued. Each scan comes
 * with its bytes exactly as the engine sent them and the time of its
 * first byte ({@link ScanListener#onScanData(ScanData)}).
 *
 * <h2>On an engine of the eleven operations</h2>
 * While scanning, the port thread runs every queued request, then one
 * {@link ScanEngine#readData()}, and so on: a request waits behind at most
 * one scan read (up to about 1 s with the native operations). Data that
 * the engine sends while a request's exchange runs is lost, as every
 * native call starts by flushing the port. Nothing is read while not
 * scanning.
 *
 * <h2>Results and errors</h2>
 * Input that no engine could take is refused at once with
 * {@link IllegalArgumentException}, with nothing queued. A request that
 * fails at the engine completes its future exceptionally with a
 * {@link ScannerException}: {@code PORT_UNAVAILABLE} when the port could
 * not be opened or was lost (the listener then hears
 * {@link ScanListener#onPortLost()}, after the request has failed),
 * {@code NO_ANSWER} when no reply was accepted within the engine's wait
 * (about 100 ms), {@code NOT_SENT} when a write did not go out (per call
 * the native writes report a port failure the same way),
 * {@code BAD_ANSWER} when an answer is not of the form asked for,
 * {@code PORT_BUSY} as above. When the engine itself throws (for example
 * the native library cannot be loaded), the future completes exceptionally
 * with what it threw, and scanning stops with
 * {@link ScanListener#onError(Throwable)}. After {@link #close()} every
 * method but {@code close()} throws {@link IllegalStateException}.
 */
public final class BarcodeScanner implements Closeable {
    /** The longest free command text, in bytes of modified UTF-8. */
    public static final int MAX_COMMAND_BYTES = 255;
    /** The smallest timeout setting. */
    public static final int MIN_TIMEOUT = -999;
    /** The largest timeout setting. */
    public static final int MAX_TIMEOUT = 9999;
    /** The most scans that wait for a listener that is busy; past it the oldest is dropped. */
    public static final int MAX_QUEUED_SCANS = 64;

    private final ScannerCore core;
    private final Object watch;

    /**
     * Makes a scanner and starts its threads. Sends nothing to the engine
     * and does not take the port yet.
     *
     * @param engine the engine ({@link NativeScanEngine}, a fake, or any
     *        {@link ScanEngine}); the scanner must be its only user
     * @throws IllegalArgumentException when the engine is null
     */
    public BarcodeScanner(SessionEngine engine) {
        if (engine == null) {
            throw new IllegalArgumentException("no engine");
        }
        core = new ScannerCore(engine);
        watch = ForgottenScanners.watch(this, core);
    }

    /**
     * Takes the port now rather than at the first request or scan, and
     * keeps it until {@link #close()}.
     *
     * @return completes once the port is held; {@code PORT_BUSY} (its
     *         message names the holder and the fix) or
     *         {@code PORT_UNAVAILABLE} otherwise, and the scanner keeps
     *         trying as described for the class
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> open() {
        return core.submit(s -> null);
    }

    /**
     * Starts delivering scans to the listener, and takes the port if it is
     * not held yet. Each scan is delivered once, whole and in order through
     * {@link ScanListener#onScanData(ScanData)} (whose default passes the
     * text to {@link ScanListener#onScan(String)}), and every listener
     * method runs on {@code executor} only, one call at a time even on an
     * executor of several threads; the listener first hears the port's
     * state. On Android pass the main thread's executor: on API 24
     * {@code new Handler(Looper.getMainLooper())::post}
     * ({@code Context.getMainExecutor()} needs API 28). Replaces a listener
     * given before; what was read for that one and not yet delivered is
     * dropped. If the executor rejects a task, scanning stops silently.
     * Returns at once.
     *
     * @param executor where the listener runs
     * @param listener what receives the scans and the port's state
     * @throws IllegalArgumentException when either is null
     * @throws IllegalStateException after {@link #close()}
     */
    public void startScanning(Executor executor, ScanListener listener) {
        if (executor == null || listener == null) {
            throw new IllegalArgumentException("executor and listener are required");
        }
        core.startScanning(executor, listener);
    }

    /**
     * Stops delivering scans; the port stays held until {@link #close()},
     * and scans read from now on are dropped. Returns at once. Called on
     * the executor's thread (the main thread on Android), no listener call
     * follows it; called on another thread, a listener call that was about
     * to begin may still run. Does nothing when not scanning.
     *
     * @throws IllegalStateException after {@link #close()}
     */
    public void stopScanning() {
        core.stopScanning();
    }

    /**
     * Tells whether the scanner is scanning: from {@link #startScanning}
     * until {@link #stopScanning()}, {@link #close()}, an engine that threw,
     * or an executor that refused a task. Any thread; does not block.
     *
     * @return true while scanning
     */
    public boolean isScanning() {
        return core.isScanning();
    }

    /**
     * Sends the engine its open frame (which tells the engine to scan; the
     * port itself is held from the scanner's first use, see {@link #open()}).
     *
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> openEngine() {
        return core.submit(s -> {
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
        return core.submit(s -> {
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
     * Asks whether a scan type is enabled. On a session this is one
     * exchange whose answer tells "enabled", "disabled" and no answer apart.
     * On an engine of the eleven operations, its check says only "enabled" or "not": after a
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
        return core.submit(s -> s.checkType(t.index()));
    }

    /**
     * Reads the engine's timeout setting (in the engine's own unit, which
     * the library does not convert; the engine starts at 3000). Only an answer of an optional '-'
     * followed by ASCII digits ("0005", "-999"), of a value within -999 to
     * 9999, is taken; any other answer is {@code BAD_ANSWER}.
     *
     * @return the setting, -999 to 9999; {@code NO_ANSWER},
     *         {@code PORT_UNAVAILABLE} or {@code BAD_ANSWER} otherwise
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Integer> engineTimeout() {
        return core.submit(s -> Answers.timeout(s.timeout()));
    }

    /**
     * Sets the engine's timeout setting, in the engine's own unit (the
     * library sends the value's decimal text, zero bytes after a text of
     * fewer than four characters). On a session the write
     * completes once the frame has left the port; the per-call native
     * operation waits about 100 ms after it.
     *
     * @param value -999 to 9999
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalArgumentException when the value is out of range
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> setEngineTimeout(int value) {
        checkTimeout(value);
        return core.submit(s -> {
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
        return core.submit(s -> Answers.text(s.setting(number), what));
    }

    /**
     * Sends a free command text. The per-call native operation waits
     * about 100 ms after the write.
     *
     * @param text at most {@value #MAX_COMMAND_BYTES} bytes in modified UTF-8
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalArgumentException when the text is null or too long
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> sendCommand(String text) {
        checkCommand(text);
        return core.submit(s -> {
            s.sendCommand(text);
            return null;
        });
    }

    /**
     * Gives the scanner the settings to send whenever it takes the port
     * (see {@link ScanProfile}): now, on the port it holds (taking it if it
     * does not yet), and again at every later claim of the port, after a
     * busy port is free and after a lost port is back, before any scan is
     * delivered. A setting the engine refuses at a later claim is told once
     * per claim, through {@link ScanListener#onProfileRefused(ScannerException)}.
     * Replaces the profile given before; null stops sending one.
     *
     * @param profile the settings, or null for none
     * @return completes when every setting went out now; otherwise fails
     *         with the first refusal ({@code NOT_SENT}), or with
     *         {@code PORT_BUSY} or {@code PORT_UNAVAILABLE} when the port
     *         is not ours now (the profile is kept and sent once it is)
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> setProfile(ScanProfile profile) {
        return core.profile(profile);
    }

    /**
     * Sends the engine its fixed profile command. The per-call native
     * operation waits about 100 ms after the write.
     *
     * @return completes when the frame went out; {@code NOT_SENT} otherwise
     * @throws IllegalStateException after {@link #close()}
     */
    public CompletableFuture<Void> profile() {
        return core.submit(s -> {
            s.profile();
            return null;
        });
    }

    /**
     * Stops scanning, lets the requests already queued run, lets the port
     * go, ends the scanner's threads and waits for the port thread, then
     * for the completions of the requests it ran. On a session the wait for
     * a scan is woken at once: with nothing queued this returns within
     * about 50 ms (a scan still arriving is finished first). On an engine
     * of the eleven operations it waits for the call in progress (a native
     * read: up to about 1.1 s). Queued requests add their time (a question
     * up to about 0.1 s each).
     *
     * <p>Whatever the app's code does, this returns within 2 s: past that
     * bound (an engine of the app's own whose call does not return, a
     * future's non-async stage that waits for another request's result,
     * which completes on the same thread behind it) the requests not yet
     * run are dropped and every request future not yet completed fails
     * with a {@link java.util.concurrent.CancellationException}, on the
     * caller's thread; a stage waiting for one of them is so released. A
     * session whose {@code close()} throws is let go all the same. The
     * listener is never waited for: a listener call still running (or
     * blocked) does not hold this up, and no listener call begins after
     * this returns, except one already handed to the executor.
     *
     * <p>Completions already made still reach their futures' stages. Safe
     * to call again, from any thread, the listener's and a future stage's
     * included (there it does not wait for the stage's own thread): later
     * calls return at once. Interrupting the caller does not cut the wait
     * short; the interrupt is kept.
     */
    @Override
    public void close() {
        ForgottenScanners.closed(watch);
        core.close();
    }

    /** The enable or disable frames of the types, in order, as one request. */
    private CompletableFuture<Void> typeFrames(ScanType[] types, boolean on) {
        ScanType[] copy = typeList(types);
        return core.submit(s -> {
            for (ScanType t : copy) {
                s.enableType(t.index(), on);
            }
            return null;
        });
    }

    static void checkTimeout(int value) {
        if (value < MIN_TIMEOUT || value > MAX_TIMEOUT) {
            throw new IllegalArgumentException("timeout " + value + " is not in " + MIN_TIMEOUT + ".." + MAX_TIMEOUT);
        }
    }

    static void checkCommand(String text) {
        if (text == null || Answers.modifiedUtf8Length(text) > MAX_COMMAND_BYTES) {
            throw new IllegalArgumentException("a command must be a text of at most " + MAX_COMMAND_BYTES + " bytes");
        }
    }

    static ScanType[] typeList(ScanType[] types) {
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
}
