package scanjni.jvmtest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.NativeScanEngine;
import com.morvek.scanner.ScanListener;
import com.morvek.scanner.ScanType;
import com.morvek.scanner.ScannerException;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;

/**
 * BarcodeScanner on the real library as an app misuses it. The engine is
 * set up by the test (timeout 1234).
 *
 * <p>"slow": the listener runs on a direct executor and sleeps 2 s at the
 * first scan, calls get() on a request at the third, while the engine
 * sends scans until "END"; a request's dependent stage sleeps 1 s.
 * Reports "@ scan.NNN text", "@ get.onscan VALUE", "@ listener.threads"
 * (the threads the listener ran on), "@ stage.thread".
 *
 * <p>"owners": a second scanner while a first holds the port
 * ("@ busy.message", "@ busy.request"), its events once the first closes
 * ("@ second.events", "@ second.request"); then a scanner that is never
 * closed and the next one ("@ forgotten.message", "@ forgotten.reopened").
 *
 * <p>"hangup": the line hangs up during a question (the test's fault):
 * "@ hangup.events", the request's failure and the listener's events in
 * the order the app saw them.
 */
public final class AppAtLineRate {
    private static final long WAIT_MS = 5000;
    private static final long RUN_MS = 20000;
    private static final long LISTENER_SLEEP_MS = 2000;
    private static final long STAGE_SLEEP_MS = 1000;
    private static final long RETRY_MS = 50;

    private AppAtLineRate() {
    }

    private static void sleep(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static String message(CompletableFuture<?> request) {
        try {
            request.get(WAIT_MS, TimeUnit.MILLISECONDS);
            return "no failure";
        } catch (ExecutionException e) {
            return e.getCause().getMessage();
        } catch (Exception e) {
            return e.toString();
        }
    }

    /** Records the port's events, and counts them down. */
    static final class Events implements ScanListener {
        final List<String> seen = Collections.synchronizedList(new ArrayList<String>());
        private final CountDownLatch[] counts = {new CountDownLatch(1), new CountDownLatch(2), new CountDownLatch(3)};

        void add(String event) {
            seen.add(event);
            for (CountDownLatch c : counts) {
                c.countDown();
            }
        }

        boolean await(int n) throws InterruptedException {
            return counts[n - 1].await(WAIT_MS, TimeUnit.MILLISECONDS);
        }

        @Override
        public void onScan(String data) {
            add("scan");
        }

        @Override
        public void onPortReady() {
            add("ready");
        }

        @Override
        public void onPortBusy(ScannerException refusal) {
            add("busy:" + refusal.holder());
        }

        @Override
        public void onPortFree() {
            add("free");
        }

        @Override
        public void onPortLost() {
            add("lost");
        }

        @Override
        public void onPortBack() {
            add("back");
        }
    }

    static void slow() throws Exception {
        List<String> scans = Collections.synchronizedList(new ArrayList<String>());
        List<String> threads = Collections.synchronizedList(new ArrayList<String>());
        String[] inOnScan = {"-"};
        String[] stageThread = {"-"};
        CountDownLatch ended = new CountDownLatch(1);
        try (BarcodeScanner scanner = new BarcodeScanner(new NativeScanEngine())) {
            scanner.engineTimeout().thenAccept(v -> {
                stageThread[0] = Thread.currentThread().getName();
                sleep(STAGE_SLEEP_MS);
            });
            scanner.startScanning(Runnable::run, data -> {
                if (!threads.contains(Thread.currentThread().getName())) {
                    threads.add(Thread.currentThread().getName());
                }
                if (data.equals("END")) {
                    ended.countDown();
                    return;
                }
                scans.add(data);
                if (scans.size() == 1) {
                    sleep(LISTENER_SLEEP_MS);
                } else if (scans.size() == 3) {
                    inOnScan[0] = LineRate.outcome(scanner.engineTimeout());
                }
            });
            scanner.openEngine().get(WAIT_MS, TimeUnit.MILLISECONDS);
            Report.line("end", ended.await(RUN_MS, TimeUnit.MILLISECONDS) ? "ok" : "no END scan");
        }
        for (int i = 0; i < scans.size(); i++) {
            Report.line(String.format("scan.%03d", i), scans.get(i));
        }
        Report.line("get.onscan", inOnScan[0]);
        Report.line("listener.threads", String.join(",", threads));
        Report.line("stage.thread", stageThread[0]);
    }

    /** Takes the port in a scanner that the app then drops without closing it. */
    static void useAndForget() throws Exception {
        new BarcodeScanner(new NativeScanEngine()).open().get(WAIT_MS, TimeUnit.MILLISECONDS);
    }

    static void owners() throws Exception {
        ExecutorService app = Executors.newSingleThreadExecutor(r -> new Thread(r, "app-main"));
        BarcodeScanner first = new BarcodeScanner(new NativeScanEngine());
        first.open().get(WAIT_MS, TimeUnit.MILLISECONDS);
        Events second = new Events();
        try (BarcodeScanner b = new BarcodeScanner(new NativeScanEngine())) {
            b.startScanning(app, second);
            second.await(1);
            Report.line("busy.message", message(b.engineTimeout()));
            Report.line("busy.request", LineRate.outcome(b.engineTimeout()));
            first.close();
            second.await(2);
            Report.line("second.events", String.join(",", second.seen));
            Report.line("second.request", LineRate.outcome(b.engineTimeout()));
        }
        app.shutdown();

        useAndForget();
        try (BarcodeScanner next = new BarcodeScanner(new NativeScanEngine())) {
            Report.line("forgotten.message", message(next.open()));
            String reopened = "never";
            for (long t = System.nanoTime(); System.nanoTime() - t < WAIT_MS * 1_000_000L;) {
                System.gc();
                reopened = LineRate.outcome(next.open());
                if (reopened.equals("null")) {
                    break;
                }
                sleep(RETRY_MS);
            }
            Report.line("forgotten.reopened", reopened);
        }
        Report.line("end", "ok");
    }

    static void hangup() throws Exception {
        ExecutorService app = Executors.newSingleThreadExecutor(r -> new Thread(r, "app-main"));
        Events events = new Events();
        try (BarcodeScanner scanner = new BarcodeScanner(new NativeScanEngine())) {
            scanner.startScanning(app, events);
            events.await(1);
            scanner.isEnabled(ScanType.of(3)).whenComplete((v, e) -> events.add("request:"
                    + (e instanceof ScannerException ? ((ScannerException) e).reason() : String.valueOf(e))));
            events.await(3);
            Report.line("hangup.events", String.join(",", events.seen));
        }
        app.shutdown();
        Report.line("end", "ok");
    }

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "slow":
                slow();
                break;
            case "owners":
                owners();
                break;
            default:
                hangup();
                break;
        }
    }
}
