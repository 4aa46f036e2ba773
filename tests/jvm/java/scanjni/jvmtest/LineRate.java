package scanjni.jvmtest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.NativeScanEngine;
import com.morvek.scanner.ScanEngine;
import com.morvek.scanner.ScanListener;
import com.morvek.scanner.ScanNative;
import com.morvek.scanner.ScanType;
import com.morvek.scanner.ScannerException;
import java.lang.reflect.InvocationHandler;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Proxy;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Objects;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * BarcodeScanner on the real library while the simulated engine sends
 * scans: the listener runs on an "app-main" executor, and another thread
 * makes a request every period until the scan "END" arrives. Then it stops
 * scanning and closes the scanner, and reports:
 *   "@ scan.NNN text"   every scan delivered, in order ("END" excluded)
 *   "@ questions N", "@ wrong N", "@ failed N", "@ latency.median MS",
 *   "@ latency.max MS", "@ foreign N" (listener calls off the executor),
 *   "@ stop.ms MS", "@ close.ms MS", "@ end ok".
 * The engine is set up by the test: type 3 on, type 20 off, timeout 1234,
 * setting 100002 = "9600".
 *
 * <p>"percall": an engine of the eleven operations alone (ScanNative's,
 * as an app's own code has them), a question every 300 ms, the open frame
 * sent before scanning starts. "session": the native engine, which scans
 * on a held port; the open frame is the first request on it, and a
 * request every 100 ms, a timeout write among the questions. Before it
 * stops, a second scanner on the same port starts scanning and reports
 * "@ busy.error REASON" (its onError within 3 s) and "@ busy.request
 * REASON" (a question of its own); after the stop it asks one question
 * ("@ afterstop VALUE", "@ afterstop.ms MS" from the stop), and it closes
 * while scanning again, 200 ms into a silent wait.
 */
public final class LineRate {
    private static final String END = "END";
    private static final long PERCALL_PERIOD_MS = 300;
    private static final long SESSION_PERIOD_MS = 100;
    private static final long MAX_RUN_MS = 20000;
    private static final long ANSWER_WAIT_MS = 5000;
    private static final long BUSY_WAIT_MS = 3000;
    private static final long SETTLE_MS = 200;

    private LineRate() {
    }

    /** One question and its right answer. */
    private interface Question {
        CompletableFuture<?> ask(BarcodeScanner scanner);
    }

    /** What a request ended with: its value, or the failure's reason. */
    static String outcome(CompletableFuture<?> request) {
        try {
            return String.valueOf(request.get(ANSWER_WAIT_MS, TimeUnit.MILLISECONDS));
        } catch (ExecutionException e) {
            Throwable cause = e.getCause();
            return cause instanceof ScannerException ? ((ScannerException) cause).reason().name() : cause.toString();
        } catch (Exception e) {
            return e.toString();
        }
    }

    /**
     * The eleven per-call operations of ScanNative as an engine without a
     * session, as an app's own code has them: each of the engine's methods
     * calls ScanNative's of the same name; openSession is the interface's
     * default.
     */
    static ScanEngine nativeEleven() {
        return (ScanEngine) Proxy.newProxyInstance(ScanEngine.class.getClassLoader(),
                new Class<?>[] {ScanEngine.class}, (proxy, method, args) -> {
                    if (method.isDefault()) {
                        return InvocationHandler.invokeDefault(proxy, method, args);
                    }
                    try {
                        return ScanNative.class.getMethod(method.getName(), method.getParameterTypes())
                                .invoke(null, args);
                    } catch (InvocationTargetException e) {
                        throw e.getCause();
                    }
                });
    }

    /** Starts a second scanner on the same port, reports how it is refused, closes it. */
    static void secondScanner(ExecutorService app) throws Exception {
        LinkedBlockingQueue<Throwable> errors = new LinkedBlockingQueue<>();
        BarcodeScanner second = new BarcodeScanner(new NativeScanEngine());
        second.startScanning(app, new ScanListener() {
            @Override
            public void onScan(String data) {
                Report.line("busy.scan", data);
            }

            @Override
            public void onError(Throwable error) {
                errors.add(error);
            }
        });
        Throwable error = errors.poll(BUSY_WAIT_MS, TimeUnit.MILLISECONDS);
        Report.line("busy.error", error instanceof ScannerException
                ? ((ScannerException) error).reason().name() : String.valueOf(error));
        Report.line("busy.request", outcome(second.engineTimeout()));
        second.close();
    }

    public static void main(String[] args) throws Exception {
        boolean session = args.length > 0 && args[0].equals("session");
        ExecutorService app = Executors.newSingleThreadExecutor(r -> new Thread(r, "app-main"));
        LinkedBlockingQueue<String> delivered = new LinkedBlockingQueue<>();
        AtomicInteger foreign = new AtomicInteger();
        BarcodeScanner scanner = new BarcodeScanner(session ? new NativeScanEngine() : nativeEleven());
        if (!session) {
            scanner.openEngine().get(ANSWER_WAIT_MS, TimeUnit.MILLISECONDS);
        }
        scanner.startScanning(app, data -> {
            if (!Thread.currentThread().getName().equals("app-main")) {
                foreign.incrementAndGet();
            }
            delivered.add(data);
        });
        if (session) {
            scanner.openEngine().get(ANSWER_WAIT_MS, TimeUnit.MILLISECONDS);
        }

        List<Question> questions = new ArrayList<>(Arrays.asList(
            s -> s.isEnabled(ScanType.of(3)), s -> s.isEnabled(ScanType.of(20)),
            BarcodeScanner::engineTimeout, s -> s.setting(100002)));
        List<Object> answers = new ArrayList<>(Arrays.asList(true, false, 1234, "9600"));
        if (session) {
            questions.add(s -> s.setEngineTimeout(1234));
            answers.add(null);
        }
        long period = session ? SESSION_PERIOD_MS : PERCALL_PERIOD_MS;
        List<Long> latencies = new ArrayList<>();
        int wrong = 0;
        int failed = 0;
        long start = System.nanoTime();
        boolean ended = false;
        List<String> scans = new ArrayList<>();
        for (int n = 0; !ended && System.nanoTime() - start < MAX_RUN_MS * 1_000_000L; n++) {
            long asked = System.nanoTime();
            try {
                Object answer = questions.get(n % questions.size()).ask(scanner)
                        .get(ANSWER_WAIT_MS, TimeUnit.MILLISECONDS);
                latencies.add((System.nanoTime() - asked) / 1_000_000);
                if (!Objects.equals(answers.get(n % answers.size()), answer)) {
                    wrong++;
                    Report.line("wrong." + n, String.valueOf(answer));
                }
            } catch (Exception e) {
                failed++;
                Report.line("failed." + n, e.toString());
            }
            long next = asked + period * 1_000_000L;
            for (long left; !ended && (left = next - System.nanoTime()) > 0;) {
                String scan = delivered.poll(left, TimeUnit.NANOSECONDS);
                if (scan != null) {
                    ended = scan.equals(END);
                    if (!ended) {
                        scans.add(scan);
                    }
                }
            }
        }
        if (session) {
            secondScanner(app);
        }
        long t = System.nanoTime();
        scanner.stopScanning();
        long stopMs = (System.nanoTime() - t) / 1_000_000;
        if (session) {
            // A question right after the stop, then close while scanning
            // again, a silent wait in progress.
            Report.line("afterstop", outcome(scanner.engineTimeout()));
            Report.line("afterstop.ms", Long.toString((System.nanoTime() - t) / 1_000_000));
            scanner.startScanning(app, delivered::add);
            Thread.sleep(SETTLE_MS);
        }
        t = System.nanoTime();
        scanner.close();
        long closeMs = (System.nanoTime() - t) / 1_000_000;
        app.shutdown();
        app.awaitTermination(ANSWER_WAIT_MS, TimeUnit.MILLISECONDS);
        delivered.drainTo(scans);

        for (int i = 0; i < scans.size(); i++) {
            Report.line(String.format("scan.%03d", i), scans.get(i));
        }
        Collections.sort(latencies);
        Report.line("questions", Integer.toString(latencies.size() + failed));
        Report.line("wrong", Integer.toString(wrong));
        Report.line("failed", Integer.toString(failed));
        Report.line("latency.median", latencies.isEmpty() ? "-" : latencies.get(latencies.size() / 2).toString());
        Report.line("latency.max", latencies.isEmpty() ? "-" : latencies.get(latencies.size() - 1).toString());
        Report.line("foreign", Integer.toString(foreign.get()));
        Report.line("stop.ms", Long.toString(stopMs));
        Report.line("close.ms", Long.toString(closeMs));
        Report.line("end", ended ? "ok" : "no END scan");
    }
}
