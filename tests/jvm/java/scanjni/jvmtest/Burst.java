package scanjni.jvmtest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.NativeScanEngine;
import com.morvek.scanner.ScannerException;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * BarcodeScanner on the session while a run of queued requests holds the
 * port thread: the open frame, then eight timeout questions queued at
 * once, which the engine (silent, set up by the test) leaves unanswered
 * for 100 ms each, while it sends scans. Reports "@ scan.NNN text" for
 * every scan until "END", "@ answers" (the questions' outcomes) and
 * "@ end ok".
 */
public final class Burst {
    private static final int QUESTIONS = 8;
    private static final long WAIT_MS = 10000;

    private Burst() {
    }

    public static void main(String[] args) throws Exception {
        ExecutorService app = Executors.newSingleThreadExecutor(r -> new Thread(r, "app-main"));
        LinkedBlockingQueue<String> delivered = new LinkedBlockingQueue<>();
        try (BarcodeScanner scanner = new BarcodeScanner(new NativeScanEngine())) {
            scanner.startScanning(app, delivered::add);
            scanner.openEngine().get(WAIT_MS, TimeUnit.MILLISECONDS);
            List<CompletableFuture<Integer>> questions = new ArrayList<>();
            for (int i = 0; i < QUESTIONS; i++) {
                questions.add(scanner.engineTimeout());
            }
            StringBuilder answers = new StringBuilder();
            for (CompletableFuture<Integer> q : questions) {
                try {
                    answers.append(q.get(WAIT_MS, TimeUnit.MILLISECONDS)).append(' ');
                } catch (ExecutionException e) {
                    Throwable cause = e.getCause();
                    answers.append(cause instanceof ScannerException
                            ? ((ScannerException) cause).reason().name() : cause.toString()).append(' ');
                }
            }
            List<String> scans = new ArrayList<>();
            for (String scan; (scan = delivered.poll(WAIT_MS, TimeUnit.MILLISECONDS)) != null
                    && !scan.equals("END");) {
                scans.add(scan);
            }
            for (int i = 0; i < scans.size(); i++) {
                Report.line(String.format("scan.%03d", i), scans.get(i));
            }
            Report.line("answers", answers.toString().trim());
        }
        app.shutdown();
        Report.line("end", "ok");
    }
}
