package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;

/**
 * An engine of the eleven operations behind the contract of a
 * {@link PortSession}, so that {@link BarcodeScanner} has one way to the
 * engine. Each call is one of the engine's port cycles; nothing is held
 * between them, so the open cannot be refused and a wait cannot be woken:
 * {@link #awaitScan(int)} is one {@link ScanEngine#readData()}, however
 * long the timeout (about 1 s with the native operations).
 */
final class PerCallSession implements PortSession {
    private final ScanEngine engine;

    PerCallSession(ScanEngine engine) {
        this.engine = engine;
    }

    @Override
    public ScanData awaitScan(int timeoutMs) throws ScannerException {
        String data = engine.readData();
        if (data == null) {
            throw new ScannerException(Reason.PORT_UNAVAILABLE, "read");
        }
        return data.isEmpty() ? null : ScanData.ofText(data, System.nanoTime());
    }

    @Override
    public void wake() {
        // A per-call read cannot be cut short.
    }

    @Override
    public void writeOpen(boolean open) throws ScannerException {
        Answers.sent(open ? engine.openDev() : engine.closeDev(), open ? "open frame" : "close frame");
    }

    @Override
    public void enableType(int type, boolean enable) throws ScannerException {
        boolean sent = enable ? engine.enableType(type) : engine.disableType(type);
        Answers.sent(sent, (enable ? "enable " : "disable ") + ScanType.of(type));
    }

    @Override
    public void setTimeout(int timeout) throws ScannerException {
        Answers.sent(engine.setTimeout(timeout), "timeout " + timeout);
    }

    @Override
    public void sendCommand(String command) throws ScannerException {
        Answers.sent(engine.sendCommand(command), "command");
    }

    @Override
    public void profile() throws ScannerException {
        Answers.sent(engine.profileScanType(), "profile");
    }

    /** The check, and after a "not" the same frame as a setting question (see {@link Answers#enabled}). */
    @Override
    public boolean checkType(int type) throws ScannerException {
        return Answers.enabled(engine, ScanType.of(type));
    }

    @Override
    public String timeout() throws ScannerException {
        return Answers.text(engine.getTimeout(), "timeout");
    }

    @Override
    public String setting(int number) throws ScannerException {
        return Answers.text(engine.queryData(number), "setting " + number);
    }

    @Override
    public void close() {
        // Nothing is held.
    }
}
