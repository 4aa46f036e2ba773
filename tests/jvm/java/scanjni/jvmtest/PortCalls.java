package scanjni.jvmtest;

import com.morvek.scanner.NativeScanEngine;
import com.morvek.scanner.PortSession;
import com.morvek.scanner.ScanData;
import com.morvek.scanner.ScanNative;
import com.morvek.scanner.ScannerException;

/**
 * The held-port session of the real library through NativeScanEngine, and
 * each result reported.
 *
 * <p>"engine": against the simulated engine, which the test has given two
 * scans (sent after the session's and after the next port cycle's
 * configuration) and the setting 100002. Labels: "scan.*" (the session's
 * scan), "text.*" (the same bytes through ScanNative.readData), the writes
 * and questions, "busy" (a second open), "silent.ms" (a 200 ms wait with
 * nothing), "wake.ms" (a 5 s wait woken after 100 ms from another
 * thread), "stale" (the first session's handle used after a second one
 * was opened), "second" and "second.ms" (a 300 ms wait of the second
 * session after the first's handle was woken), "second.check".
 * "absent": open without a device.
 */
public final class PortCalls {
    private PortCalls() {
    }

    /** A call's value, or the name of what it threw. */
    private interface Call {
        Object run() throws Exception;
    }

    /** A call without a value. */
    private interface Write {
        void run() throws Exception;
    }

    static void write(String label, Write call) {
        report(label, () -> {
            call.run();
            return Boolean.TRUE;
        });
    }

    static void report(String label, Call call) {
        String value;
        try {
            Object v = call.run();
            value = v instanceof String ? Report.quoted((String) v) : String.valueOf(v);
        } catch (ScannerException e) {
            value = e.reason().name();
        } catch (Exception e) {
            value = e.getClass().getSimpleName();
        }
        Report.line(label, value);
    }

    static String hex(byte[] bytes) {
        StringBuilder b = new StringBuilder();
        for (byte x : bytes) {
            b.append(String.format("%02X", x & 0xFF));
        }
        return b.toString();
    }

    static void engine() throws Exception {
        NativeScanEngine engine = new NativeScanEngine();
        long before = System.nanoTime();
        PortSession first = engine.openSession();
        ScanData scan = first.awaitScan(2000);
        long after = System.nanoTime();
        Report.line("scan.bytes", scan == null ? "none" : hex(scan.bytes()));
        Report.result("scan.text", scan == null ? null : scan.text());
        Report.line("scan.arrival", scan != null && scan.arrivalNanos() > before && scan.arrivalNanos() < after
                ? "inside" : "outside");
        write("writeOpen", () -> first.writeOpen(true));
        write("enableType", () -> first.enableType(5, true));
        report("checkType.enabled", () -> first.checkType(5));
        write("disableType", () -> first.enableType(5, false));
        report("checkType.disabled", () -> first.checkType(5));
        write("setTimeout", () -> first.setTimeout(1234));
        report("timeout", first::timeout);
        write("sendCommand", () -> first.sendCommand("ABC"));
        report("setting.known", () -> first.setting(100002));
        // The engine refuses it (echo, NAK, final byte): no answer, and no
        // scan for the silent wait below either.
        report("setting.unknown", () -> first.setting(424242));
        write("profile", () -> first.profile());
        report("busy", engine::openSession);
        long t = System.nanoTime();
        report("silent", () -> first.awaitScan(200));
        Report.line("silent.ms", Long.toString((System.nanoTime() - t) / 1_000_000));
        Thread waker = new Thread(() -> {
            try {
                Thread.sleep(100);
            } catch (InterruptedException e) {
                return;
            }
            first.wake();
        });
        t = System.nanoTime();
        waker.start();
        report("woken", () -> first.awaitScan(5000));
        Report.line("wake.ms", Long.toString((System.nanoTime() - t) / 1_000_000));
        waker.join();
        first.close();
        first.close();
        report("closed", () -> first.checkType(5));

        // The same bytes as the session's scan through the per-call read.
        Report.result("text.percall", ScanNative.readData());

        PortSession second = engine.openSession();
        report("stale", () -> first.checkType(5));
        first.wake(); // must not end the second session's wait
        t = System.nanoTime();
        report("second", () -> second.awaitScan(300));
        Report.line("second.ms", Long.toString((System.nanoTime() - t) / 1_000_000));
        report("second.check", () -> second.checkType(5));
        second.close();
    }

    static void absent() {
        report("open", new NativeScanEngine()::openSession);
    }

    public static void main(String[] args) throws Exception {
        if ("engine".equals(args[0])) {
            engine();
        } else {
            absent();
        }
        Report.line("end", "ok");
    }
}
