package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;

/**
 * A scan engine in memory, for an app's unit tests on a plain JVM: no
 * native library, no device. Shipped in its own jar, beside the jar of the
 * scanner classes (both on one class path: the fake lives in the scanner's
 * package).
 *
 * <p>It answers like the engine behind the native library: the writes
 * change its state (type states, timeout, the last command, open or
 * closed), the questions answer from that state, and scans are the ones
 * the test queued with {@link #queueScans} (or {@link #queueScanBytes}). A
 * question for a type's code (as {@link #queryData(int)} with, say,
 * 900003) is that type's check and answers "1" or "0". Every call is
 * recorded, in order, as text such as {@code "checkType(3)"}; calls that
 * overlap in time are counted.
 *
 * <h2>The session</h2>
 * Like the native engine it offers a session, {@link #openSession()},
 * unless {@link #setSessionOffered(boolean)} turns that off (an engine of
 * the eleven operations). A wait for a scan returns a queued scan at once
 * and otherwise waits its whole timeout, unless woken; a second open while
 * a session is held, by this fake or another on the same port
 * ({@link #FakeScanEngine(FakeScanEngine)}), is refused with
 * {@code PORT_BUSY} of {@link PortHolder#THIS_APP}, and while
 * {@link #setHeldByAnotherApp(boolean)} is on with
 * {@link PortHolder#OTHER_APP}. Like the native engine it can wait for the
 * holder's release ({@link #awaitPortFree(long)}), so a scanner refused
 * with {@code PORT_BUSY} takes the port as soon as it is let go, without
 * the test moving the clock. Its calls are recorded as
 * {@code "openSession()"}, {@code "session.awaitScan()"},
 * {@code "session.checkType(3)"}, {@code "session.close()"} and so on
 * ({@code wake()} is not recorded).
 *
 * <h2>Time, as the real engine takes it</h2>
 * A question that gets no answer (silence, an unknown setting, a reply
 * later than the budget) fails after {@link #ANSWER_BUDGET_MS}, as the
 * library gives up, not at once. The fake's waits and the back-off pauses
 * of the scanners on it run on the fake's clock: the system's, until
 * {@link #takeClockInHand()}; from then on it moves only by
 * {@link #advanceClock(long)}, so a test never sleeps for them. Taking the
 * port away ({@link #setPortPresent(boolean)}) fails a call in progress
 * at once with {@code PORT_UNAVAILABLE}, as a hang-up does: the scanner
 * fails the request, then tells its listener the port is lost.
 *
 * <h2>Faults</h2>
 * {@link #setSilent(boolean)} (no answers), {@link #setAnswerDelayMillis(long)}
 * (late answers), {@link #failNext(Reason...)} (the next requests fail:
 * {@code NOT_SENT}, {@code NO_ANSWER}, {@code BAD_ANSWER} or a hang-up,
 * {@code PORT_UNAVAILABLE}), {@link #setPortPresent(boolean)} (no device).
 *
 * <h2>Waiting without polling</h2>
 * {@link #awaitSessionOpen(long)} returns once a session is open,
 * {@link #awaitIdle(long)} once a wait for a scan is in progress with no
 * scan left to take, {@link #awaitQuestion(long)} once a question waits
 * for its answer, and {@link #awaitClockWait(long)} once anything waits on
 * the clock in hand (a scanner's back-off pause included), so that the
 * test moves the clock only when the step it means is due.
 *
 * <p>All methods are thread-safe. Initially the port is present, the
 * engine answers at once, sessions are offered, every type is disabled,
 * the timeout is 3000, and no setting is known.
 */
public final class FakeScanEngine implements ScanEngine {
    /** How long a question waits for its answer, as the native library does (10 attempts, 10 ms apart). */
    public static final long ANSWER_BUDGET_MS = 100;
    private static final int INITIAL_TIMEOUT = 3000;
    private static final long INITIAL_READ_WAIT_MS = 20;

    /** The engine and its port, which fakes made with the copy constructor share. */
    private static final class Device {
        final FakeClock clock = new FakeClock();
        final ArrayDeque<ScanData> scans = new ArrayDeque<>();
        final boolean[] enabled = new boolean[ScanType.COUNT];
        final Map<Integer, String> settings = new HashMap<>();
        final List<String> calls = new ArrayList<>();
        final ArrayDeque<Reason> failures = new ArrayDeque<>();
        boolean portPresent = true;
        boolean silent;
        boolean open;
        int timeout = INITIAL_TIMEOUT;
        String lastCommand;
        long readWaitMillis = INITIAL_READ_WAIT_MS;
        long answerDelayMillis;
        int inCall;
        int overlaps;
        int waits; // waits for a scan in progress
        int asking; // questions waiting for their answer or their budget
        boolean sessionsOffered = true;
        boolean otherApp;
        Object held; // the open session, or null
    }

    private final Device d; // also the lock of every call
    private final Object lock;
    private boolean freeWaitWoken; // guarded by lock; ends this engine's next or current wait for a free port

    /** Makes the engine in its initial state (see the class description). */
    public FakeScanEngine() {
        this(new Device());
    }

    /**
     * Makes a second engine object on the same port and engine as another,
     * as two {@link NativeScanEngine}s share the device: its state, scans,
     * sessions, clock and record of calls are the other's.
     *
     * @param samePort the fake whose port to share
     */
    public FakeScanEngine(FakeScanEngine samePort) {
        this(samePort.d);
    }

    private FakeScanEngine(Device device) {
        d = device;
        lock = device;
        PortClock.register(this, device.clock);
    }

    // ---- script and state, for the test ----

    /**
     * The engine sends scans; each is handed out by one later
     * {@link #readData()} or session wait, in order, whole. Scans sent
     * while no session is open are dropped when the next one opens, as the
     * library flushes the port at its open (a scanner between two claims,
     * such as a screen turning, loses them). On a session a
     * scan's bytes are the text's modified UTF-8 (U+0000 as C0 80), so its
     * {@link ScanData#text()} is the text.
     *
     * @param data the scan texts
     */
    public void queueScans(String... data) {
        long now = System.nanoTime();
        synchronized (lock) {
            for (String text : data) {
                d.scans.add(ScanData.ofText(text, now));
            }
            lock.notifyAll();
        }
    }

    /**
     * The engine sends scans of any bytes, zero bytes included; the session
     * hands them out as they are, and {@link #readData()} as the native
     * library's read would: as text up to the first zero byte (see
     * {@link ScanData}).
     *
     * @param data the scans' bytes (copied)
     */
    public void queueScanBytes(byte[]... data) {
        long now = System.nanoTime();
        synchronized (lock) {
            for (byte[] bytes : data) {
                d.scans.add(new ScanData(bytes, now));
            }
            lock.notifyAll();
        }
    }

    /**
     * How many queued scans no read has taken yet.
     *
     * @return the count
     */
    public int scansLeft() {
        synchronized (lock) {
            return d.scans.size();
        }
    }

    /**
     * How long {@link #readData()} waits for a scan before it returns the
     * empty text (the real engine waits about 1 s), on the fake's clock.
     *
     * @param millis the wait, 0 or more
     */
    public void setReadWaitMillis(long millis) {
        synchronized (lock) {
            d.readWaitMillis = Math.max(0, millis);
        }
    }

    /**
     * Sets a type's state, as if the engine had been told so earlier.
     *
     * @param type the type
     * @param on enabled or not
     */
    public void setEnabled(ScanType type, boolean on) {
        synchronized (lock) {
            d.enabled[type.index()] = on;
        }
    }

    /**
     * A type's state as the engine holds it now.
     *
     * @param type the type
     * @return whether it is enabled
     */
    public boolean enabledNow(ScanType type) {
        synchronized (lock) {
            return d.enabled[type.index()];
        }
    }

    /**
     * Gives a setting number a value that questions for it answer.
     *
     * @param number the setting number
     * @param value its value text
     */
    public void putSetting(int number, String value) {
        synchronized (lock) {
            d.settings.put(number, value);
        }
    }

    /**
     * The timeout setting as the engine holds it now.
     *
     * @return the value
     */
    public int timeoutNow() {
        synchronized (lock) {
            return d.timeout;
        }
    }

    /**
     * The last free command that went out.
     *
     * @return the text, or null when none did
     */
    public String lastCommand() {
        synchronized (lock) {
            return d.lastCommand;
        }
    }

    /**
     * Whether the last control frame was the open frame.
     *
     * @return true after the open frame, false after the close frame
     */
    public boolean engineOpen() {
        synchronized (lock) {
            return d.open;
        }
    }

    /**
     * Silence: questions get no answer (after {@link #ANSWER_BUDGET_MS});
     * writes still go out and scans still arrive.
     *
     * @param on silent or not
     */
    public void setSilent(boolean on) {
        synchronized (lock) {
            d.silent = on;
        }
    }

    /**
     * How late the engine answers a question, on the fake's clock. Past
     * {@link #ANSWER_BUDGET_MS} the question gets no answer.
     *
     * @param millis the delay, 0 (at once) or more
     */
    public void setAnswerDelayMillis(long millis) {
        synchronized (lock) {
            d.answerDelayMillis = Math.max(0, millis);
        }
    }

    /**
     * Makes the next requests fail, one reason each, in order. A request is
     * a write or a question, on the session or per call. {@code NOT_SENT}:
     * the frame does not go out. {@code PORT_UNAVAILABLE}: the line hangs up
     * (the session is lost; per call the port fails once). {@code NO_ANSWER}
     * and {@code BAD_ANSWER} wait for the next question: it gets no answer
     * (after the budget), or a garbled one (the session reports
     * {@code BAD_ANSWER}; per call a question answers "?" and a check
     * false).
     *
     * @param reasons the failures (not {@code PORT_BUSY})
     * @throws IllegalArgumentException for {@code PORT_BUSY}
     */
    public void failNext(Reason... reasons) {
        synchronized (lock) {
            for (Reason r : reasons) {
                if (r == Reason.PORT_BUSY) {
                    throw new IllegalArgumentException("a busy port comes from another holder, not a request");
                }
                d.failures.add(r);
            }
        }
    }

    /**
     * Whether {@link #openSession()} gives a session (as the native engine
     * does) or null (as an engine of the eleven operations does; the call
     * is then not recorded).
     *
     * @param offered true to offer sessions
     */
    public void setSessionOffered(boolean offered) {
        synchronized (lock) {
            d.sessionsOffered = offered;
        }
    }

    /**
     * Another app holds the port (when on) or lets it go: opens are refused
     * with {@code PORT_BUSY} of {@link PortHolder#OTHER_APP} meanwhile. A
     * session already open here stays open.
     *
     * @param held whether another app holds the port
     */
    public void setHeldByAnotherApp(boolean held) {
        synchronized (lock) {
            d.otherApp = held;
            lock.notifyAll(); // a wait for a free port sees the release
        }
    }

    /**
     * Whether a session is open now.
     *
     * @return true between a successful {@link #openSession()} and the
     *         session's close
     */
    public boolean sessionOpen() {
        synchronized (lock) {
            return d.held != null;
        }
    }

    /**
     * Waits until a session is open. Blocks up to the timeout (real time).
     *
     * @param timeoutMs how long to wait at most
     * @return true once a session is open; false when the time ran out
     * @throws InterruptedException when the caller is interrupted
     */
    public boolean awaitSessionOpen(long timeoutMs) throws InterruptedException {
        synchronized (lock) {
            return awaitState(timeoutMs, () -> d.held != null);
        }
    }

    /**
     * Waits until the engine is idle: a wait for a scan (on the session, or
     * a per-call read) is in progress and no queued scan is left. Blocks up
     * to the timeout (real time).
     *
     * @param timeoutMs how long to wait at most
     * @return true once idle; false when the time ran out
     * @throws InterruptedException when the caller is interrupted
     */
    public boolean awaitIdle(long timeoutMs) throws InterruptedException {
        synchronized (lock) {
            return awaitState(timeoutMs, () -> d.waits > 0 && d.scans.isEmpty());
        }
    }

    /**
     * Waits until a question (on the session or per call) waits for its
     * answer: it has gone out and, with the clock in hand, ends only once
     * the test moves the clock past its delay or the budget. A question
     * answered at once passes without this seeing it. Blocks up to the
     * timeout (real time).
     *
     * @param timeoutMs how long to wait at most
     * @return true once a question waits; false when the time ran out
     * @throws InterruptedException when the caller is interrupted
     */
    public boolean awaitQuestion(long timeoutMs) throws InterruptedException {
        synchronized (lock) {
            return awaitState(timeoutMs, () -> d.asking > 0);
        }
    }

    /**
     * Waits until something waits on the clock in hand: a scanner's pause
     * before it tries the port again (after a loss or a busy port), a
     * question waiting for its answer or its budget, a wait for a scan
     * counting its timeout. Moving the clock only then makes a step of a
     * test land on the wait it means, also while the scanner is still
     * setting the wait up. A wait that has ended is not counted: after
     * moving the clock, wait for what the move brings (a call in
     * {@link #calls()}, a listener call) before waiting here again.
     *
     * @param timeoutMs how long to wait at most (real time)
     * @return true once such a wait is in progress; false when the time
     *         ran out or the clock is not in hand
     * @throws InterruptedException when the caller is interrupted
     */
    public boolean awaitClockWait(long timeoutMs) throws InterruptedException {
        return d.clock.awaitWaiter(timeoutMs);
    }

    /**
     * Takes the fake's clock in hand: from now on it moves only by
     * {@link #advanceClock(long)}. Do it before the scanner starts, so that
     * no wait is already counting in real time. A call that waits on the
     * clock (a question without an answer, a late answer, a per-call read)
     * then lasts until the test moves the clock past its end, a scanner's
     * close included.
     */
    public void takeClockInHand() {
        d.clock.takeInHand();
    }

    /**
     * Moves the clock in hand forward, ending the waits and pauses that it
     * passes.
     *
     * @param millis how far, in milliseconds
     * @throws IllegalStateException when the clock is not in hand
     */
    public void advanceClock(long millis) {
        d.clock.advance(millis);
    }

    /**
     * Takes the device away or brings it back. Without it every call fails
     * at once, a call in progress too: writes and checks give false, texts
     * null, and a session is lost.
     *
     * @param present whether the port can be opened
     */
    public void setPortPresent(boolean present) {
        synchronized (lock) {
            d.portPresent = present;
            lock.notifyAll();
        }
    }

    /**
     * Every call so far, in order, such as {@code "readData()"},
     * {@code "enableType(3)"} or {@code "sendCommand(\"ABC\")"}.
     *
     * @return a copy of the record
     */
    public List<String> calls() {
        synchronized (lock) {
            return new ArrayList<>(d.calls);
        }
    }

    /**
     * How many calls began while another call was still running.
     *
     * @return 0 when every call ran alone
     */
    public int overlappingCalls() {
        synchronized (lock) {
            return d.overlaps;
        }
    }

    /** Forgets the record of calls and the overlap count; the state stays. */
    public void clearCalls() {
        synchronized (lock) {
            d.calls.clear();
            d.overlaps = 0;
        }
    }

    // ---- the engine ----

    /**
     * Opens the session (see the class description), or gives null when
     * sessions are not offered.
     *
     * @return the session, or null
     * @throws ScannerException {@code PORT_BUSY} while a session is open or
     *         another app holds the port, {@code PORT_UNAVAILABLE} without
     *         the device
     */
    @Override
    public PortSession openSession() throws ScannerException {
        synchronized (lock) {
            if (!d.sessionsOffered) {
                return null;
            }
        }
        return guarded("openSession()", () -> {
            if (!d.portPresent) {
                throw new ScannerException(Reason.PORT_UNAVAILABLE, "open the port");
            }
            if (d.held != null || d.otherApp) {
                throw new ScannerException(d.held != null ? PortHolder.THIS_APP : PortHolder.OTHER_APP);
            }
            // The library flushes the port as it opens it: what the engine
            // sent while no session held the port is gone.
            d.scans.clear();
            Session s = new Session();
            d.held = s;
            lock.notifyAll();
            return s;
        });
    }

    /**
     * Whether {@link #awaitPortFree(long)} waits for the holder's release:
     * it does, as the native engine's.
     *
     * @return true
     */
    @Override
    public boolean canAwaitPortFree() {
        return true;
    }

    /**
     * Waits until no session holds the port and no other app does (see
     * {@link #setHeldByAnotherApp(boolean)}), as the native engine waits
     * for the holder's release: the close of the holding session, or the
     * other app letting go, ends the wait at once; the timeout runs on the
     * fake's clock. Not recorded among the calls.
     *
     * @param timeoutMs how long to wait at most, on the fake's clock
     * @return true once the port is free; false when the time ran out or
     *         {@link #wakePortWaits()} ended the wait
     * @throws ScannerException {@code PORT_UNAVAILABLE} without the device
     */
    @Override
    public boolean awaitPortFree(long timeoutMs) throws ScannerException {
        synchronized (lock) {
            long end = d.clock.nanoTime() + Math.max(0, timeoutMs) * PortClock.NANOS_PER_MS;
            for (;;) {
                if (!d.portPresent) {
                    throw new ScannerException(Reason.PORT_UNAVAILABLE, "wait for the port");
                }
                if (d.held == null && !d.otherApp) {
                    return true;
                }
                if (freeWaitWoken) {
                    freeWaitWoken = false;
                    return false;
                }
                if (!pause(end)) {
                    return false;
                }
            }
        }
    }

    /** Ends this engine's wait for a free port in progress at once, or the next one when none is. */
    @Override
    public void wakePortWaits() {
        synchronized (lock) {
            freeWaitWoken = true;
            lock.notifyAll();
        }
    }

    @Override
    public boolean openDev() {
        return write("openDev()", () -> d.open = true);
    }

    @Override
    public boolean closeDev() {
        return write("closeDev()", () -> d.open = false);
    }

    @Override
    public String readData() {
        return call("readData()", () -> {
            long end = d.clock.nanoTime() + d.readWaitMillis * PortClock.NANOS_PER_MS;
            d.waits++;
            lock.notifyAll();
            try {
                while (d.portPresent && d.scans.isEmpty() && pause(end)) {
                    // wait on
                }
            } finally {
                d.waits--;
            }
            if (!d.portPresent) {
                return null;
            }
            return d.scans.isEmpty() ? "" : d.scans.poll().text();
        });
    }

    @Override
    public boolean checkType(int type) {
        return call("checkType(" + type + ")", () -> {
            String answer = typeValid(type) ? question(d.enabled[type] ? "1" : "0") : null;
            return "1".equals(answer);
        });
    }

    @Override
    public boolean enableType(int type) {
        return write("enableType(" + type + ")", () -> setType(type, true));
    }

    @Override
    public boolean disableType(int type) {
        return write("disableType(" + type + ")", () -> setType(type, false));
    }

    @Override
    public boolean setTimeout(int value) {
        return write("setTimeout(" + value + ")", () -> {
            boolean valid = value >= BarcodeScanner.MIN_TIMEOUT && value <= BarcodeScanner.MAX_TIMEOUT;
            if (valid) {
                d.timeout = value;
            }
            return valid;
        });
    }

    @Override
    public String getTimeout() {
        return call("getTimeout()", () -> question(timeoutText()));
    }

    @Override
    public boolean sendCommand(String command) {
        return write("sendCommand(" + quoted(command) + ")", () -> {
            if (command == null || Answers.modifiedUtf8Length(command) > BarcodeScanner.MAX_COMMAND_BYTES) {
                return false;
            }
            d.lastCommand = command;
            return true;
        });
    }

    @Override
    public String queryData(int number) {
        return call("queryData(" + number + ")", () -> question(settingText(number)));
    }

    @Override
    public boolean profileScanType() {
        return write("profileScanType()", () -> true);
    }

    // ---- the engine's state and time ----

    /** A condition on the device, checked under its lock. */
    private interface Condition {
        boolean holds();
    }

    private boolean awaitState(long timeoutMs, Condition condition) throws InterruptedException {
        long end = System.nanoTime() + timeoutMs * PortClock.NANOS_PER_MS;
        while (!condition.holds()) {
            long left = end - System.nanoTime();
            if (left <= 0) {
                return false;
            }
            lock.wait(Math.max(1, left / PortClock.NANOS_PER_MS));
        }
        return true;
    }

    /**
     * Waits on the lock until notified or the clock reaches end. False once
     * it has (or the caller was interrupted: the interrupt is kept).
     */
    private boolean pause(long end) {
        if (d.clock.nanoTime() - end >= 0) {
            return false;
        }
        try {
            d.clock.await(lock, end);
            return true;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
    }

    private boolean setType(int type, boolean on) {
        if (!typeValid(type)) {
            return false;
        }
        d.enabled[type] = on;
        return true;
    }

    private String timeoutText() {
        return String.format(Locale.ROOT, "%04d", d.timeout);
    }

    /** A setting's value; a type's code is that type's check; null when not known. */
    private String settingText(int number) {
        for (int i = 0; i < ScanType.COUNT; i++) {
            if (ScanType.of(i).questionNumber() == number) {
                return d.enabled[i] ? "1" : "0";
            }
        }
        return d.settings.get(number);
    }

    /** The next scripted failure that applies to a request of this kind, taken; null when none. */
    private Reason nextFailure(boolean question) {
        Reason r = d.failures.peek();
        if (r == null || (!question && (r == Reason.NO_ANSWER || r == Reason.BAD_ANSWER))) {
            return null;
        }
        return d.failures.poll();
    }

    /**
     * A question's answer as it comes off the line: the value; null when
     * the port is gone (at once, also while waiting); {@link #NOT_SENT_MARK}
     * when the frame did not go out; {@link #NO_ANSWER_MARK} after the
     * budget; "?" garbled.
     */
    private String reply(String value) {
        if (!d.portPresent) {
            return null;
        }
        Reason failure = nextFailure(true);
        if (failure == Reason.PORT_UNAVAILABLE) {
            return null;
        }
        if (failure == Reason.NOT_SENT) {
            return NOT_SENT_MARK;
        }
        if (failure == Reason.BAD_ANSWER) {
            return "?";
        }
        boolean answers = failure == null && !d.silent && value != null
                && d.answerDelayMillis <= ANSWER_BUDGET_MS;
        long wait = answers ? d.answerDelayMillis : ANSWER_BUDGET_MS;
        long end = d.clock.nanoTime() + wait * PortClock.NANOS_PER_MS;
        d.asking++;
        lock.notifyAll();
        try {
            while (d.portPresent && pause(end)) {
                // wait on
            }
        } finally {
            d.asking--;
        }
        if (!d.portPresent) {
            return null;
        }
        return answers ? value : NO_ANSWER_MARK;
    }

    /** What {@link #reply(String)} gives for no answer: compared by identity, never a value. */
    private static final String NO_ANSWER_MARK = new String("no answer");
    /** What {@link #reply(String)} gives for a frame that did not go out: compared by identity. */
    private static final String NOT_SENT_MARK = new String("not sent");

    /** A per-call question's text: null when the port failed, empty when no answer came. */
    private String question(String value) {
        String r = reply(value);
        return r == NO_ANSWER_MARK || r == NOT_SENT_MARK ? "" : r;
    }

    /** A per-call write: false when the port is gone or the frame is scripted not to go out. */
    private boolean write(String name, Body<Boolean> body) {
        return call(name, () -> {
            if (!d.portPresent) {
                return false;
            }
            Reason failure = nextFailure(false);
            return failure == null && body.get();
        });
    }

    private static String quoted(String text) {
        return text == null ? "null" : "\"" + text + "\"";
    }

    private static boolean typeValid(int type) {
        return type >= 0 && type < ScanType.COUNT;
    }

    /** A call's work, which may fail as a session's calls do. */
    private interface Body<T> {
        T get() throws ScannerException;
    }

    /** A per-call operation: records it, runs it under the lock, counts overlaps. */
    private <T> T call(String name, Body<T> body) {
        try {
            return guarded(name, body);
        } catch (ScannerException e) {
            throw new AssertionError(e); // the per-call operations throw none
        }
    }

    /** Records the call, runs it under the lock, counts overlaps. */
    private <T> T guarded(String name, Body<T> body) throws ScannerException {
        synchronized (lock) {
            d.calls.add(name);
            if (d.inCall++ > 0) {
                d.overlaps++;
            }
            try {
                return body.get();
            } finally {
                d.inCall--;
            }
        }
    }

    /** A held port on the engine's state; every call runs under the engine's lock. */
    private final class Session implements PortSession {
        private boolean closed;
        private boolean lost;
        private boolean wakePending;

        @Override
        public ScanData awaitScan(int timeoutMs) throws ScannerException {
            if (timeoutMs < 0) {
                throw new IllegalArgumentException("a wait of " + timeoutMs + " ms");
            }
            return guarded("session.awaitScan()", () -> {
                usable();
                long end = d.clock.nanoTime() + timeoutMs * PortClock.NANOS_PER_MS;
                d.waits++;
                lock.notifyAll();
                try {
                    while (d.portPresent && d.scans.isEmpty() && !wakePending && !closed && pause(end)) {
                        // wait on
                    }
                } finally {
                    d.waits--;
                }
                usable();
                if (wakePending) {
                    wakePending = false;
                    return null;
                }
                return d.scans.poll();
            });
        }

        @Override
        public void wake() {
            synchronized (lock) {
                wakePending = true;
                lock.notifyAll();
            }
        }

        @Override
        public void writeOpen(boolean openFrame) throws ScannerException {
            write("session.writeOpen(" + openFrame + ")", () -> d.open = openFrame);
        }

        @Override
        public void enableType(int type, boolean on) throws ScannerException {
            validType(type);
            write("session.enableType(" + type + ", " + on + ")", () -> d.enabled[type] = on);
        }

        @Override
        public void setTimeout(int value) throws ScannerException {
            if (value < BarcodeScanner.MIN_TIMEOUT || value > BarcodeScanner.MAX_TIMEOUT) {
                throw new IllegalArgumentException("timeout " + value);
            }
            write("session.setTimeout(" + value + ")", () -> d.timeout = value);
        }

        @Override
        public void sendCommand(String command) throws ScannerException {
            if (command == null || Answers.modifiedUtf8Length(command) > BarcodeScanner.MAX_COMMAND_BYTES) {
                throw new IllegalArgumentException("a command of more than 255 bytes, or none");
            }
            write("session.sendCommand(" + quoted(command) + ")", () -> d.lastCommand = command);
        }

        @Override
        public void profile() throws ScannerException {
            write("session.profile()", () -> null);
        }

        @Override
        public boolean checkType(int type) throws ScannerException {
            validType(type);
            return "1".equals(answer("session.checkType(" + type + ")", () -> d.enabled[type] ? "1" : "0"));
        }

        @Override
        public String timeout() throws ScannerException {
            return answer("session.timeout()", FakeScanEngine.this::timeoutText);
        }

        @Override
        public String setting(int number) throws ScannerException {
            return answer("session.setting(" + number + ")", () -> settingText(number));
        }

        @Override
        public void close() {
            synchronized (lock) {
                if (closed) {
                    return;
                }
                call("session.close()", () -> {
                    closed = true;
                    if (d.held == this) {
                        d.held = null;
                    }
                    lock.notifyAll();
                    return null;
                });
            }
        }

        /** A write on the held port: the frame goes out, or the scripted failure. */
        private void write(String name, Body<Object> body) throws ScannerException {
            guarded(name, () -> {
                usable();
                Reason failure = nextFailure(false);
                if (failure == Reason.PORT_UNAVAILABLE) {
                    lost = true;
                }
                if (failure != null) {
                    throw new ScannerException(failure, name);
                }
                return body.get();
            });
        }

        /** A question on the held port, answered from the state as {@link #reply(String)} gives it. */
        private String answer(String name, Body<String> value) throws ScannerException {
            return guarded(name, () -> {
                usable();
                String r = reply(value.get());
                if (r == null) {
                    lost = true;
                    throw new ScannerException(Reason.PORT_UNAVAILABLE, name + ": the line hung up");
                }
                if (r == NO_ANSWER_MARK || r == NOT_SENT_MARK) {
                    throw new ScannerException(r == NOT_SENT_MARK ? Reason.NOT_SENT : Reason.NO_ANSWER, name);
                }
                if (r.equals("?")) {
                    throw new ScannerException(Reason.BAD_ANSWER, name + " answered \"?\"");
                }
                return r;
            });
        }

        /** Throws unless the session can be used: open, and its port still there. */
        private void usable() throws ScannerException {
            if (closed) {
                throw new IllegalStateException("the session is closed");
            }
            if (lost || !d.portPresent) {
                lost = true;
                throw new ScannerException(Reason.PORT_UNAVAILABLE, "the port was lost");
            }
        }

        private void validType(int type) {
            if (!typeValid(type)) {
                throw new IllegalArgumentException("type " + type);
            }
        }
    }

    /**
     * The fake engine's clock: the system's until the test takes it in hand,
     * then one that moves only by {@link #advance(long)}. Its scanners' back-off
     * pauses and its own waits (a question's budget, a scan wait's timeout, a
     * scripted delay) run on it.
     */
    private static final class FakeClock extends PortClock {
        private volatile boolean manual;
        private long manualNanos; // guarded by this
        private int waiting; // waits on the clock in hand in progress; guarded by this
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
                waiting++;
                notifyAll();
            }
            try {
                // advance() notifies the monitor, which it can only take once this wait has let it go.
                monitor.wait();
            } finally {
                synchronized (this) {
                    waiting--;
                }
            }
        }

        /** Waits (real time) until a wait on the clock in hand is in progress; false when the time ran out. */
        synchronized boolean awaitWaiter(long timeoutMs) throws InterruptedException {
            long end = System.nanoTime() + timeoutMs * NANOS_PER_MS;
            while (waiting == 0) {
                long left = end - System.nanoTime();
                if (left <= 0) {
                    return false;
                }
                wait(Math.max(1, left / NANOS_PER_MS));
            }
            return true;
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
}
