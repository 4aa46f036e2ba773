package scanjni.jvmtest;

import com.morvek.scanner.ScanNative;

/**
 * Calls the native methods of ScanNative and reports each result.
 *
 * <p>"engine": every method against the simulated engine, in an order the
 * test knows (it queues the scan data and the setting values beforehand).
 * "absent": every method with no scanner device at all.
 *
 * <p>The calls run on a thread with a small stack (256 KiB), so that the
 * bridge's stack use on the conversion path is exercised where it is
 * tightest.
 */
public final class Calls {
    private Calls() {
    }

    /**
     * A write-only call closes the port at once after its write, and the
     * next call's flush of the port discards whatever the engine has not
     * read yet. The pause gives the simulated engine ample time to read
     * each frame before the next call starts.
     */
    static void pause() {
        try {
            Thread.sleep(50);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static void engine() {
        Report.result("readData.ascii", ScanNative.readData());
        Report.result("readData.invalid", ScanNative.readData());
        Report.result("readData.long", ScanNative.readData());
        Report.result("readData.nothing", ScanNative.readData());
        Report.result("openDev", ScanNative.openDev());
        pause();
        Report.result("closeDev", ScanNative.closeDev());
        pause();
        Report.result("disableType", ScanNative.disableType(5));
        pause();
        Report.result("checkType.disabled", ScanNative.checkType(5));
        Report.result("enableType", ScanNative.enableType(5));
        pause();
        Report.result("checkType.enabled", ScanNative.checkType(5));
        Report.result("setTimeout", ScanNative.setTimeout(1234));
        Report.result("getTimeout", ScanNative.getTimeout());
        Report.result("sendCommand.text", ScanNative.sendCommand("ABC"));
        Report.result("sendCommand.empty", ScanNative.sendCommand(""));
        Report.result("sendCommand.null", ScanNative.sendCommand(null));
        Report.result("sendCommand.toolong", ScanNative.sendCommand("A".repeat(256)));
        // 128 NULs: 256 bytes of modified UTF-8 (C0 80 each).
        Report.result("sendCommand.nuls", ScanNative.sendCommand("\0".repeat(128)));
        Report.result("queryData.known", ScanNative.queryData(100002));
        Report.result("queryData.unknown", ScanNative.queryData(424242));
        Report.result("profileScanType", ScanNative.profileScanType());
    }

    static void absent() {
        Report.result("openDev", ScanNative.openDev());
        Report.result("closeDev", ScanNative.closeDev());
        Report.result("readData", ScanNative.readData());
        Report.result("checkType", ScanNative.checkType(0));
        Report.result("enableType", ScanNative.enableType(0));
        Report.result("disableType", ScanNative.disableType(0));
        Report.result("setTimeout", ScanNative.setTimeout(3000));
        Report.result("getTimeout", ScanNative.getTimeout());
        Report.result("sendCommand", ScanNative.sendCommand("A"));
        Report.result("queryData", ScanNative.queryData(861001));
        Report.result("profileScanType", ScanNative.profileScanType());
    }

    public static void main(String[] args) throws InterruptedException {
        Runnable body = "engine".equals(args[0]) ? Calls::engine : Calls::absent;
        Throwable[] failure = new Throwable[1];
        Thread t = new Thread(null, body, "scanner", 256 * 1024);
        t.setUncaughtExceptionHandler((th, e) -> failure[0] = e);
        t.start();
        t.join();
        // An exception raised by a call would end the run early; report it.
        Report.line("end", failure[0] == null ? "ok" : failure[0].toString());
    }
}
