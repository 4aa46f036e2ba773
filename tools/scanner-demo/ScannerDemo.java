package scanjni.demo;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.NativeScanEngine;
import com.morvek.scanner.ScanType;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;

/**
 * A short run of BarcodeScanner on the real library, for the demonstration
 * command: scan on the held port until two scans arrived, ask a few
 * questions while still scanning (scans that arrive meanwhile are kept and
 * delivered), send the close frame, close. Prints what happens and on
 * which thread.
 */
public final class ScannerDemo {
    private static final long WAIT_S = 5;
    private static final long START = System.nanoTime();

    private ScannerDemo() {
    }

    private static void say(String text) {
        long ms = (System.nanoTime() - START) / 1_000_000;
        System.out.printf("%5d ms  [%s] %s%n", ms, Thread.currentThread().getName(), text);
    }

    private static <T> void show(String what, CompletableFuture<T> answer) throws Exception {
        try {
            T value = answer.get(WAIT_S, TimeUnit.SECONDS);
            say(what + " -> " + (value == null ? "done" : value));
        } catch (java.util.concurrent.ExecutionException e) {
            say(what + " failed: " + e.getCause());
        }
    }

    public static void main(String[] args) throws Exception {
        ExecutorService app = Executors.newSingleThreadExecutor(r -> new Thread(r, "app-main"));
        CountDownLatch twoScans = new CountDownLatch(2);
        BarcodeScanner scanner = new BarcodeScanner(new NativeScanEngine());
        say("startScanning: the port thread holds the port and waits for scans; they go to the app-main executor");
        scanner.startScanning(app, data -> {
            say("onScan \"" + data + "\"");
            twoScans.countDown();
        });
        if (!twoScans.await(WAIT_S, TimeUnit.SECONDS)) {
            say("fewer than two scans arrived");
        }
        say("four questions and the close frame, queued at once; each wakes the wait and runs on the held port");
        CompletableFuture<Boolean> type3 = scanner.isEnabled(ScanType.of(3));
        CompletableFuture<Boolean> type20 = scanner.isEnabled(ScanType.of(20));
        CompletableFuture<Integer> timeout = scanner.engineTimeout();
        CompletableFuture<String> setting = scanner.setting(100002);
        CompletableFuture<Void> closeFrame = scanner.closeEngine();
        show("isEnabled(type 3)", type3);
        show("isEnabled(type 20)", type20);
        show("engineTimeout()", timeout);
        show("setting(100002)", setting);
        show("closeEngine()", closeFrame);
        long t = System.nanoTime();
        scanner.close();
        say("close() returned after " + (System.nanoTime() - t) / 1_000_000
                + " ms (it wakes the wait and closes the session)");
        app.shutdown();
    }
}
