package com.morvek.scanner;

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
 * returns the scans that the test queued with {@link #queueScans}, or the
 * empty text after a short wait. A question for a type's code (as
 * {@link #queryData(int)} with, say, 900003) is that type's check and
 * answers "1" or "0". Faults: {@link #setSilent(boolean)} (no answers to
 * questions) and {@link #setPortPresent(boolean)} (every call fails as
 * when the device is missing). Every call is recorded, in order, as text
 * such as {@code "checkType(3)"}; calls that overlap in time are counted.
 *
 * <p>All methods are thread-safe. Only {@link #readData()} blocks, for at
 * most the read wait ({@link #setReadWaitMillis(long)}, 20 ms unless set);
 * a scan queued meanwhile ends the wait at once. Initially the port is
 * present, the engine answers, every type is disabled, the timeout is
 * 3000, and no setting is known.
 */
public final class FakeScanEngine implements ScanEngine {
    private final Object lock = new Object();
    private final ArrayDeque<String> scans = new ArrayDeque<>();
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

    /** Makes the engine in its initial state (see the class description). */
    public FakeScanEngine() {
    }

    // ---- script and state, for the test ----

    /**
     * Queues scans; each is returned by one later {@link #readData()}, in
     * order, whole.
     *
     * @param data the scan texts
     */
    public void queueScans(String... data) {
        synchronized (lock) {
            for (String d : data) {
                scans.add(d);
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
     * Takes the device away or brings it back. Without it every call
     * fails at once: writes and checks give false, texts null.
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
            return portPresent ? scans.poll() : null;
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
