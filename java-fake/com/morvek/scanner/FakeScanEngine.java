package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.function.Supplier;

/**
 * A scan engine in memory, for an app's unit tests on a plain JVM: no
 * native library, no device. Shipped in its own jar, beside the jar of the
 * scanner classes.
 *
 * <p>It answers like the engine behind the native library: the writes
 * change its state (type states, timeout, the last command, open or
 * closed), the questions answer from that state, and {@link #readData()}
 * returns the scans that the test queued with {@link #queueScans} (or
 * {@link #queueScanBytes}), or the empty text after a short wait. A
 * question for a type's code (as {@link #queryData(int)} with, say,
 * 900003) is that type's check and answers "1" or "0". Faults:
 * {@link #setSilent(boolean)} (no answers to questions) and
 * {@link #setPortPresent(boolean)} (every call fails as when the device is
 * missing). Every call is recorded, in order, as text such as
 * {@code "checkType(3)"}; calls that overlap in time are counted.
 *
 * <p>Like the native engine it offers a session, {@link #openSession()},
 * unless {@link #setSessionOffered(boolean)} turns that off (an engine of
 * the eleven operations, scanned per call). The session behaves like the
 * held port in time: {@link PortSession#awaitScan(int)} returns a queued
 * scan at once and otherwise waits its whole timeout, unless woken; the
 * questions answer from the same state as above (a setting that is not
 * known gets no answer); a second open while one session is held is
 * refused with {@code PORT_BUSY}; taking the port away loses the session
 * ({@code PORT_UNAVAILABLE}, also for a wait in progress). Its calls are
 * recorded as {@code "openSession()"}, {@code "session.awaitScan()"},
 * {@code "session.checkType(3)"}, {@code "session.close()"} and so on
 * ({@code wake()} is not recorded).
 *
 * <p>All methods are thread-safe. Only {@link #readData()} and the
 * session's wait block: the first for at most the read wait
 * ({@link #setReadWaitMillis(long)}, 20 ms unless set); a scan queued
 * meanwhile ends either wait at once. Initially the port is present, the
 * engine answers, sessions are offered, every type is disabled, the
 * timeout is 3000, and no setting is known.
 */
public final class FakeScanEngine implements ScanEngine {
    private final Object lock = new Object();
    private final ArrayDeque<ScanData> scans = new ArrayDeque<>();
    private final boolean[] enabled = new boolean[ScanType.COUNT];
    private final Map<Integer, String> settings = new HashMap<>();
    private final List<String> calls = new ArrayList<>();
    private boolean portPresent = true;
    private boolean silent;
    private boolean open;
    private int timeout = 3000;
    private String lastCommand;
    private long readWaitMillis = 20;
    private int inCall;
    private int overlaps;
    private boolean sessionsOffered = true;
    private Session held; // the open session, or null

    /** Makes the engine in its initial state (see the class description). */
    public FakeScanEngine() {
    }

    // ---- script and state, for the test ----

    /**
     * Queues scans; each is returned by one later {@link #readData()} or
     * session wait, in order, whole. On a session a scan's bytes are the
     * text's modified UTF-8, so its {@link ScanData#text()} is the text.
     *
     * @param data the scan texts
     */
    public void queueScans(String... data) {
        long now = System.nanoTime();
        synchronized (lock) {
            for (String d : data) {
                scans.add(ScanData.ofText(d, now));
            }
            lock.notifyAll();
        }
    }

    /**
     * Queues scans of any bytes, zero bytes included; the session hands
     * them out as they are, and {@link #readData()} as the native library's
     * read would: as text up to the first zero byte (see {@link ScanData}).
     *
     * @param data the scans' bytes (copied)
     */
    public void queueScanBytes(byte[]... data) {
        long now = System.nanoTime();
        synchronized (lock) {
            for (byte[] d : data) {
                scans.add(new ScanData(d, now));
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
            return scans.size();
        }
    }

    /**
     * How long {@link #readData()} waits for a scan before it returns the
     * empty text (the real engine waits about 1 s).
     *
     * @param millis the wait, 0 or more
     */
    public void setReadWaitMillis(long millis) {
        synchronized (lock) {
            readWaitMillis = Math.max(0, millis);
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
            enabled[type.index()] = on;
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
            return enabled[type.index()];
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
            settings.put(number, value);
        }
    }

    /**
     * The timeout setting as the engine holds it now.
     *
     * @return the value
     */
    public int timeoutNow() {
        synchronized (lock) {
            return timeout;
        }
    }

    /**
     * The last free command that went out.
     *
     * @return the text, or null when none did
     */
    public String lastCommand() {
        synchronized (lock) {
            return lastCommand;
        }
    }

    /**
     * Whether the last control frame was the open frame.
     *
     * @return true after {@link #openDev()}, false after {@link #closeDev()}
     */
    public boolean engineOpen() {
        synchronized (lock) {
            return open;
        }
    }

    /**
     * Silence: questions get no answer (false, the empty text); writes
     * still go out and scans still arrive.
     *
     * @param on silent or not
     */
    public void setSilent(boolean on) {
        synchronized (lock) {
            silent = on;
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
            sessionsOffered = offered;
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
            return held != null;
        }
    }

    /**
     * Takes the device away or brings it back. Without it every call
     * fails at once: writes and checks give false, texts null, and a
     * session is lost.
     *
     * @param present whether the port can be opened
     */
    public void setPortPresent(boolean present) {
        synchronized (lock) {
            portPresent = present;
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
            return new ArrayList<>(calls);
        }
    }

    /**
     * How many calls began while another call was still running.
     *
     * @return 0 when every call ran alone
     */
    public int overlappingCalls() {
        synchronized (lock) {
            return overlaps;
        }
    }

    /** Forgets the record of calls and the overlap count; the state stays. */
    public void clearCalls() {
        synchronized (lock) {
            calls.clear();
            overlaps = 0;
        }
    }

    // ---- the engine ----

    /**
     * Opens the session (see the class description), or gives null when
     * sessions are not offered.
     *
     * @return the session, or null
     * @throws ScannerException {@code PORT_BUSY} while a session is open,
     *         {@code PORT_UNAVAILABLE} without the device
     */
    @Override
    public PortSession openSession() throws ScannerException {
        synchronized (lock) {
            if (!sessionsOffered) {
                return null;
            }
        }
        return guarded("openSession()", () -> {
            if (!portPresent) {
                throw new ScannerException(Reason.PORT_UNAVAILABLE, "open the port");
            }
            if (held != null) {
                throw new ScannerException(Reason.PORT_BUSY, "open the port");
            }
            held = new Session();
            return held;
        });
    }

    @Override
    public boolean openDev() {
        return control("openDev()", true);
    }

    @Override
    public boolean closeDev() {
        return control("closeDev()", false);
    }

    @Override
    public String readData() {
        return call("readData()", () -> {
            long end = System.nanoTime() + readWaitMillis * 1_000_000;
            while (portPresent && scans.isEmpty()) {
                long left = (end - System.nanoTime()) / 1_000_000;
                if (left <= 0 || !waitOnLock(left)) {
                    return "";
                }
            }
            return portPresent ? scans.poll().text() : null;
        });
    }

    @Override
    public boolean checkType(int type) {
        return call("checkType(" + type + ")", () -> typeValid(type) && answering() && enabled[type]);
    }

    @Override
    public boolean enableType(int type) {
        return setType("enableType(" + type + ")", type, true);
    }

    @Override
    public boolean disableType(int type) {
        return setType("disableType(" + type + ")", type, false);
    }

    @Override
    public boolean setTimeout(int value) {
        return call("setTimeout(" + value + ")", () -> {
            if (!portPresent || value < BarcodeScanner.MIN_TIMEOUT || value > BarcodeScanner.MAX_TIMEOUT) {
                return false;
            }
            timeout = value;
            return true;
        });
    }

    @Override
    public String getTimeout() {
        return call("getTimeout()", () -> question(String.format(Locale.ROOT, "%04d", timeout)));
    }

    @Override
    public boolean sendCommand(String command) {
        return call("sendCommand(" + (command == null ? "null" : "\"" + command + "\"") + ")", () -> {
            if (!portPresent || command == null
                    || Answers.modifiedUtf8Length(command) > BarcodeScanner.MAX_COMMAND_BYTES) {
                return false;
            }
            lastCommand = command;
            return true;
        });
    }

    @Override
    public String queryData(int number) {
        return call("queryData(" + number + ")", () -> {
            for (int i = 0; i < ScanType.COUNT; i++) {
                if (ScanType.of(i).questionNumber() == number) {
                    return question(enabled[i] ? "1" : "0");
                }
            }
            String value = settings.get(number);
            return question(value == null ? "" : value);
        });
    }

    @Override
    public boolean profileScanType() {
        return call("profileScanType()", () -> portPresent);
    }

    private boolean control(String name, boolean openFrame) {
        return call(name, () -> {
            if (portPresent) {
                open = openFrame;
            }
            return portPresent;
        });
    }

    private boolean setType(String name, int type, boolean on) {
        return call(name, () -> {
            if (!portPresent || !typeValid(type)) {
                return false;
            }
            enabled[type] = on;
            return true;
        });
    }

    /** A question's text result: null without a port, empty when silent. */
    private String question(String answer) {
        if (!portPresent) {
            return null;
        }
        return silent ? "" : answer;
    }

    /** Records the call, runs it under the lock, counts overlaps. */
    private <T> T call(String name, Supplier<T> body) {
        try {
            return guarded(name, body::get);
        } catch (ScannerException e) {
            throw new AssertionError(e); // a Supplier throws none
        }
    }

    /** A call's work, which may fail as a session's calls do. */
    private interface Body<T> {
        T get() throws ScannerException;
    }

    /** Records the call, runs it under the lock, counts overlaps. */
    private <T> T guarded(String name, Body<T> body) throws ScannerException {
        synchronized (lock) {
            calls.add(name);
            if (inCall++ > 0) {
                overlaps++;
            }
        }
        try {
            synchronized (lock) {
                return body.get();
            }
        } finally {
            synchronized (lock) {
                inCall--;
            }
        }
    }

    /** A held port on this engine's state; every call runs under the engine's lock. */
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
                long end = System.nanoTime() + timeoutMs * 1_000_000L;
                while (portPresent && scans.isEmpty() && !wakePending && !closed) {
                    long left = (end - System.nanoTime()) / 1_000_000;
                    if (left <= 0 || !waitOnLock(left)) {
                        return null;
                    }
                }
                usable();
                if (wakePending) {
                    wakePending = false;
                    return null;
                }
                return scans.poll();
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
            guarded("session.writeOpen(" + openFrame + ")", () -> {
                usable();
                open = openFrame;
                return null;
            });
        }

        @Override
        public void enableType(int type, boolean on) throws ScannerException {
            guarded("session.enableType(" + type + ", " + on + ")", () -> {
                usable();
                enabled[validType(type)] = on;
                return null;
            });
        }

        @Override
        public void setTimeout(int value) throws ScannerException {
            guarded("session.setTimeout(" + value + ")", () -> {
                usable();
                if (value < BarcodeScanner.MIN_TIMEOUT || value > BarcodeScanner.MAX_TIMEOUT) {
                    throw new IllegalArgumentException("timeout " + value);
                }
                timeout = value;
                return null;
            });
        }

        @Override
        public void sendCommand(String command) throws ScannerException {
            guarded("session.sendCommand(" + (command == null ? "null" : "\"" + command + "\"") + ")", () -> {
                usable();
                if (command == null || Answers.modifiedUtf8Length(command) > BarcodeScanner.MAX_COMMAND_BYTES) {
                    throw new IllegalArgumentException("a command of more than 255 bytes, or none");
                }
                lastCommand = command;
                return null;
            });
        }

        @Override
        public void profile() throws ScannerException {
            guarded("session.profile()", () -> {
                usable();
                return null;
            });
        }

        @Override
        public boolean checkType(int type) throws ScannerException {
            return guarded("session.checkType(" + type + ")", () -> answer(enabled[validType(type)]));
        }

        @Override
        public String timeout() throws ScannerException {
            return guarded("session.timeout()", () -> answer(String.format(Locale.ROOT, "%04d", timeout)));
        }

        @Override
        public String setting(int number) throws ScannerException {
            return guarded("session.setting(" + number + ")", () -> {
                for (int i = 0; i < ScanType.COUNT; i++) {
                    if (ScanType.of(i).questionNumber() == number) {
                        return answer(enabled[i] ? "1" : "0");
                    }
                }
                return answer(settings.get(number));
            });
        }

        @Override
        public void close() {
            synchronized (lock) {
                if (closed) {
                    return;
                }
            }
            call("session.close()", () -> {
                closed = true;
                if (held == this) {
                    held = null;
                }
                lock.notifyAll();
                return null;
            });
        }

        /** Throws unless the session can be used: open, and its port still there. */
        private void usable() throws ScannerException {
            if (closed) {
                throw new IllegalStateException("the session is closed");
            }
            if (lost || !portPresent) {
                lost = true;
                throw new ScannerException(Reason.PORT_UNAVAILABLE, "the port was lost");
            }
        }

        /** A question's answer from the state; null is no answer, as silence is. */
        private <T> T answer(T value) throws ScannerException {
            usable();
            if (silent || value == null) {
                throw new ScannerException(Reason.NO_ANSWER, "question");
            }
            return value;
        }

        private int validType(int type) {
            if (!typeValid(type)) {
                throw new IllegalArgumentException("type " + type);
            }
            return type;
        }
    }

    private boolean answering() {
        return portPresent && !silent;
    }

    private static boolean typeValid(int type) {
        return type >= 0 && type < ScanType.COUNT;
    }

    /** False when the caller was interrupted (the interrupt is kept). */
    private boolean waitOnLock(long ms) {
        try {
            lock.wait(ms);
            return true;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
    }
}
