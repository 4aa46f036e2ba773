package scanjni.jvmtest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.NativeScanEngine;
import com.morvek.scanner.ScanType;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * BarcodeScanner on the real library while the simulated engine sends
 * scans: the listener runs on an "app-main" executor, and another thread
 * asks a question every 300 ms until the scan "END" arrives. Then it stops
 * scanning and closes the scanner, and reports:
 *   "@ scan.NNN text"   every scan delivered, in order ("END" excluded)
 *   "@ questions N", "@ wrong N", "@ failed N", "@ latency.median MS",
 *   "@ latency.max MS", "@ foreign N" (listener calls off the executor),
 *   "@ stop.ms MS", "@ close.ms MS", "@ end ok".
 * The engine is set up by the test: type 3 on, type 20 off, timeout 1234,
 * setting 100002 = "9600".
 */
public final class LineRate {
    private static final String END = "END";
    private static final long QUESTION_PERIOD_MS = 300;
    private static final long MAX_RUN_MS = 20000;
    private static final long ANSWER_WAIT_MS = 5000;

    private LineRate() {
    }

    /** One question and its right answer. */
    private interface Question {
        CompletableFuture<?> ask(BarcodeScanner scanner);
    }

    public static void main(String[] args) throws Exception {
        ExecutorService app = Executors.newSingleThreadExecutor(r -> new Thread(r, "app-main"));
        LinkedBlockingQueue<String> delivered = new LinkedBlockingQueue<>();
        AtomicInteger foreign = new AtomicInteger();
        BarcodeScanner scanner = new BarcodeScanner(new NativeScanEngine());
        scanner.openEngine().get(ANSWER_WAIT_MS, TimeUnit.MILLISECONDS);
        scanner.startScanning(app, data -> {
            if (!Thread.currentThread().getName().equals("app-main")) {
                foreign.incrementAndGet();
            }
            delivered.add(data);
        });

        Question[] questions = {
            s -> s.isEnabled(ScanType.of(3)), s -> s.isEnabled(ScanType.of(20)),
            BarcodeScanner::engineTimeout, s -> s.setting(100002),
        };
        Object[] answers = {true, false, 1234, "9600"};
        List<Long> latencies = new ArrayList<>();
        int wrong = 0;
        int failed = 0;
        long start = System.nanoTime();
        boolean ended = false;
        List<String> scans = new ArrayList<>();
        for (int n = 0; !ended && System.nanoTime() - start < MAX_RUN_MS * 1_000_000L; n++) {
            long asked = System.nanoTime();
            try {
                Object answer = questions[n % questions.length].ask(scanner)
                        .get(ANSWER_WAIT_MS, TimeUnit.MILLISECONDS);
                latencies.add((System.nanoTime() - asked) / 1_000_000);
                if (!answers[n % answers.length].equals(answer)) {
                    wrong++;
                    Report.line("wrong." + n, String.valueOf(answer));
                }
            } catch (Exception e) {
                failed++;
                Report.line("failed." + n, e.toString());
            }
            long next = asked + QUESTION_PERIOD_MS * 1_000_000L;
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
        long t = System.nanoTime();
        scanner.stopScanning();
        long stopMs = (System.nanoTime() - t) / 1_000_000;
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
