package scanjni.scannertest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.FakeScanEngine;
import com.morvek.scanner.ScanEngine;
import com.morvek.scanner.ScanListener;
import com.morvek.scanner.ScanType;
import com.morvek.scanner.ScannerException;
import java.lang.reflect.InvocationHandler;
import java.lang.reflect.Proxy;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CompletionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.Supplier;

/** BarcodeScanner against FakeScanEngine on a plain JVM, no native library. */
public final class FakeScenarios {
    private static final String APP_THREAD = "app-";
    private static final long WAIT_MS = 5000;

    private FakeScenarios() {
    }

    public static void main(String[] args) {
        Check check = new Check();
        for (boolean session : new boolean[] {false, true}) {
            String mode = session ? " (session)" : " (per call)";
            check.scenario("scans in order on the executor, questions answered in between" + mode,
                    () -> scansAndQuestions(session));
            check.scenario("stopScanning inside onScan: no later delivery" + mode, () -> stopInsideOnScan(session));
            check.scenario("port loss and return reported once each, with back-off" + mode,
                    () -> portLossAndReturn(session));
            check.scenario("close runs queued requests, is idempotent, later calls fail" + mode,
                    () -> closeScenario(session));
        }
        check.scenario("answers, silence and a missing port", FakeScenarios::answersAndFaults);
        check.scenario("timeout answers: only '-' and ASCII digits within range", FakeScenarios::timeoutAnswers);
        check.scenario("invalid input refused before anything is sent", FakeScenarios::inputRefused);
        check.scenario("an engine that throws: onError, scanning ends, the request fails",
                FakeScenarios::engineThrows);
        SessionScenarios.all(check);
        AppScenarios.all(check);
        LifecycleScenarios.all(check);
        System.exit(check.finish());
    }

    /** Records what the listener got and on which thread, and whether calls overlapped; errors apart. */
    static final class Recorder implements ScanListener {
        final List<String> events = Collections.synchronizedList(new ArrayList<String>());
        final List<Throwable> errors = Collections.synchronizedList(new ArrayList<Throwable>());
        final List<String> foreignThreads = Collections.synchronizedList(new ArrayList<String>());
        final AtomicInteger running = new AtomicInteger();
        final AtomicInteger overlaps = new AtomicInteger();

        private void record(String event) {
            if (running.incrementAndGet() > 1) {
                overlaps.incrementAndGet();
            }
            String thread = Thread.currentThread().getName();
            if (!thread.startsWith(APP_THREAD)) {
                foreignThreads.add(thread);
            }
            events.add(event);
            running.decrementAndGet();
        }

        @Override
        public void onScan(String data) {
            record(data);
        }

        @Override
        public void onPortLost() {
            record("port:lost");
        }

        @Override
        public void onPortBack() {
            record("port:back");
        }

        @Override
        public void onPortReady() {
            record("port:ready");
        }

        @Override
        public void onPortBusy(ScannerException refusal) {
            record("port:busy:" + refusal.holder());
            errors.add(refusal);
        }

        @Override
        public void onPortFree() {
            record("port:free");
        }

        @Override
        public void onScansDropped(int count) {
            record("dropped:" + count);
        }

        @Override
        public void onError(Throwable error) {
            errors.add(error);
        }

        int count(String event) {
            synchronized (events) {
                return Collections.frequency(events, event);
            }
        }

        /** The events other than the port's state. */
        List<String> scans() {
            List<String> scans = new ArrayList<>();
            synchronized (events) {
                for (String e : events) {
                    if (!e.startsWith("port:")) {
                        scans.add(e);
                    }
                }
            }
            return scans;
        }
    }

    static ExecutorService appExecutor(int threads) {
        AtomicInteger n = new AtomicInteger();
        return Executors.newFixedThreadPool(threads, r -> new Thread(r, APP_THREAD + n.incrementAndGet()));
    }

    static String scanText(int i) {
        // Sized like real barcodes: 13 and 40 characters.
        String head = String.format("%05d", i);
        return head + (i % 2 == 0 ? "40063813" : "4006381333931-0123456789-ABCDEFGHIJKLMN");
    }

    /**
     * The fake itself (it offers a session), or the fake behind an engine
     * of the eleven operations alone, whose openSession is the interface's
     * default.
     */
    static ScanEngine engine(FakeScanEngine fake, boolean session) {
        if (session) {
            return fake;
        }
        return (ScanEngine) Proxy.newProxyInstance(ScanEngine.class.getClassLoader(),
                new Class<?>[] {ScanEngine.class}, (proxy, method, args) -> method.isDefault()
                        ? InvocationHandler.invokeDefault(proxy, method, args) : method.invoke(fake, args));
    }

    static void scansAndQuestions(boolean session) throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.setEnabled(ScanType.of(3), true);
        fake.putSetting(100002, "9600");
        List<String> sent = new ArrayList<>();
        for (int i = 0; i < 40; i++) {
            sent.add(scanText(i));
        }
        Recorder rec = new Recorder();
        // Three threads: delivery must still be in order and one at a time.
        ExecutorService app = appExecutor(3);
        try (BarcodeScanner scanner = new BarcodeScanner(engine(fake, session))) {
            scanner.startScanning(app, rec);
            opened(scanner);
            fake.queueScans(sent.subList(0, 20).toArray(new String[0]));
            Check.that(Check.within(WAIT_MS, () -> rec.scans().size() >= 5), "first scans delivered");
            CompletableFuture<Boolean> on = scanner.isEnabled(ScanType.of(3));
            CompletableFuture<Boolean> off = scanner.isEnabled(ScanType.of(4));
            CompletableFuture<Integer> timeout = scanner.engineTimeout();
            CompletableFuture<String> setting = scanner.setting(100002);
            fake.queueScans(sent.subList(20, 40).toArray(new String[0]));
            Check.equal(true, on.get(WAIT_MS, TimeUnit.MILLISECONDS), "type 3");
            Check.equal(false, off.get(WAIT_MS, TimeUnit.MILLISECONDS), "type 4");
            Check.equal(3000, timeout.get(WAIT_MS, TimeUnit.MILLISECONDS), "timeout");
            Check.equal("9600", setting.get(WAIT_MS, TimeUnit.MILLISECONDS), "setting");
            Check.that(Check.within(WAIT_MS, () -> rec.scans().size() >= sent.size()), "all scans delivered");
            Thread.sleep(50);
        } finally {
            app.shutdown();
        }
        Check.equal(sent, rec.scans(), "scans, once each and in order");
        Check.equal("port:ready", rec.events.get(0), "the first event");
        Check.equal(Collections.emptyList(), rec.foreignThreads, "listener calls off the executor");
        Check.equal(0, rec.overlaps.get(), "listener calls that overlapped");
        Check.equal(0, fake.overlappingCalls(), "engine calls that overlapped");
        List<String> calls = fake.calls();
        String read = session ? "session.awaitScan()" : "readData()";
        int question = calls.indexOf(session ? "session.checkType(3)" : "checkType(3)");
        Check.that(question > 0 && calls.subList(0, question).contains(read)
                && calls.subList(question, calls.size()).contains(read),
                "the questions ran between reads: " + calls);
        // With a session every call while scanning runs on it, and a check
        // is one exchange; without one, "disabled" takes a second question.
        for (String call : calls) {
            Check.that(session == (call.startsWith("session.") || call.equals("openSession()")),
                    "call " + call + (session ? " beside the session" : " with sessions off"));
        }
        Check.equal(session ? 0 : 1, Collections.frequency(calls, "queryData(922001)"), "second questions");
    }

    /** What a request's future ended with: its value, or the failure's reason. */
    /** Waits until the scanner holds the port: scans the engine sends before that are flushed at the open. */
    static void opened(BarcodeScanner scanner) throws Exception {
        scanner.open().get(WAIT_MS, TimeUnit.MILLISECONDS);
    }

    static String outcome(Supplier<CompletableFuture<?>> request) {
        try {
            return String.valueOf(request.get().get(WAIT_MS, TimeUnit.MILLISECONDS));
        } catch (java.util.concurrent.ExecutionException e) {
            Throwable cause = e.getCause();
            return cause instanceof ScannerException ? ((ScannerException) cause).reason().name() : cause.toString();
        } catch (Exception e) {
            return e.toString();
        }
    }

    static void answersAndFaults() {
        String[] requests = {"isEnabled(3)", "isEnabled(4)", "engineTimeout", "setting(100002)",
                             "setting(7)", "enable(4)", "openEngine"};
        // One row per engine state: the outcome of each request above.
        String[][] table = {
            {"responsive", "true", "false", "1234", "9600", "NO_ANSWER", "null", "null"},
            {"silent", "NO_ANSWER", "NO_ANSWER", "NO_ANSWER", "NO_ANSWER", "NO_ANSWER", "null", "null"},
            {"absent", "PORT_UNAVAILABLE", "PORT_UNAVAILABLE", "PORT_UNAVAILABLE", "PORT_UNAVAILABLE",
             "PORT_UNAVAILABLE", "PORT_UNAVAILABLE", "PORT_UNAVAILABLE"},
        };
        for (String[] row : table) {
            FakeScanEngine fake = new FakeScanEngine();
            fake.setEnabled(ScanType.of(3), true);
            fake.setTimeout(1234);
            fake.putSetting(100002, "9600");
            fake.setSilent(row[0].equals("silent"));
            fake.setPortPresent(!row[0].equals("absent"));
            try (BarcodeScanner s = new BarcodeScanner(fake)) {
                List<Supplier<CompletableFuture<?>>> calls = Arrays.asList(
                        () -> s.isEnabled(ScanType.of(3)), () -> s.isEnabled(ScanType.of(4)),
                        s::engineTimeout, () -> s.setting(100002), () -> s.setting(7),
                        () -> s.enable(ScanType.of(4)), s::openEngine);
                for (int i = 0; i < requests.length; i++) {
                    Check.equal(row[i + 1], outcome(calls.get(i)), row[0] + " " + requests[i]);
                }
            }
        }
    }

    static void timeoutAnswers() {
        AtomicReference<String> answer = new AtomicReference<>();
        // Answers every call with the text (only getTimeout is made), and has no session.
        ScanEngine engine = (ScanEngine) Proxy.newProxyInstance(ScanEngine.class.getClassLoader(),
                new Class<?>[] {ScanEngine.class}, (proxy, method, args) -> method.isDefault() ? null : answer.get());
        // The engine's answer, and what engineTimeout makes of it.
        String[][] table = {
            {"0005", "5"}, {"-005", "-5"}, {"-999", "-999"}, {"9999", "9999"}, {"", "NO_ANSWER"},
            {"+123", "BAD_ANSWER"}, {"12345", "BAD_ANSWER"}, {"-1000", "BAD_ANSWER"}, {"-", "BAD_ANSWER"},
            {" 123", "BAD_ANSWER"}, {"\u0661\u0662\u0663", "BAD_ANSWER"}, {"4294967301", "BAD_ANSWER"},
        };
        try (BarcodeScanner s = new BarcodeScanner(engine)) {
            for (String[] row : table) {
                answer.set(row[0]);
                Check.equal(row[1], outcome(s::engineTimeout), "timeout answer \"" + row[0] + "\"");
            }
        }
        // The fake answers in ASCII digits whatever the default locale.
        Locale saved = Locale.getDefault();
        Locale.setDefault(Locale.forLanguageTag("ar-EG-u-nu-arab"));
        try (BarcodeScanner s = new BarcodeScanner(new FakeScanEngine())) {
            Check.equal("3000", outcome(s::engineTimeout), "the fake's timeout in an Arabic-Indic locale");
        } finally {
            Locale.setDefault(saved);
        }
    }

    static void inputRefused() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        char threeBytes = '\u30A2';
        char[] longest = new char[85];
        Arrays.fill(longest, threeBytes);
        // U+0000 is two bytes in modified UTF-8 (C0 80).
        String nuls127 = new String(new char[127]);
        String nuls128 = nuls127 + '\0';
        try (BarcodeScanner s = new BarcodeScanner(engine(fake, false))) {
            List<Runnable> refused = Arrays.asList(
                    () -> ScanType.of(35), () -> ScanType.of(-1), () -> ScanType.byCode("123456"),
                    () -> ScanType.byCode(null), () -> s.setEngineTimeout(10000),
                    () -> s.setEngineTimeout(-1000), () -> s.sendCommand(null),
                    () -> s.sendCommand(new String(new char[256]).replace('\0', 'A')),
                    () -> s.sendCommand(new String(longest) + "A"), () -> s.sendCommand(nuls128),
                    () -> s.enable((ScanType) null),
                    () -> s.isEnabled(null), () -> s.startScanning(null, data -> { }));
            for (int i = 0; i < refused.size(); i++) {
                try {
                    refused.get(i).run();
                    throw new AssertionError("input " + i + " was accepted");
                } catch (IllegalArgumentException expected) {
                    // refused, as it must be
                }
            }
            Check.equal(Collections.emptyList(), fake.calls(), "calls that reached the engine");
            // The limits themselves are accepted.
            s.setEngineTimeout(-999).join();
            s.setEngineTimeout(9999).join();
            s.sendCommand(new String(longest)).join();
            s.sendCommand(nuls127).join();
            Check.equal(ScanType.of(34), ScanType.byCode("914010"), "type by code");
            for (int i = 0; i < ScanType.COUNT; i++) {
                Check.equal(ScanType.of(i), ScanType.byCode(ScanType.of(i).code()), "type " + i + " by its code");
            }
        }
        Check.equal(Arrays.asList("setTimeout(-999)", "setTimeout(9999)", "sendCommand(\"" + new String(longest) + "\")",
                "sendCommand(\"" + nuls127 + "\")"), fake.calls(), "calls at the limits");
        Check.equal(false, fake.sendCommand(nuls128), "the fake took 128 NULs (256 bytes)");
    }

    static void stopInsideOnScan(boolean session) throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        List<String> got = Collections.synchronizedList(new ArrayList<String>());
        ExecutorService app = appExecutor(2);
        try (BarcodeScanner scanner = new BarcodeScanner(engine(fake, session))) {
            scanner.startScanning(app, data -> {
                got.add(data);
                try {
                    // The port thread reads the rest meanwhile: "B" and "C" wait for delivery.
                    Check.within(WAIT_MS, () -> fake.scansLeft() == 0);
                    Thread.sleep(50);
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
                scanner.stopScanning();
            });
            opened(scanner);
            fake.queueScans("A", "B", "C");
            Check.that(Check.within(WAIT_MS, () -> !got.isEmpty()), "first scan delivered");
            Thread.sleep(200);
            fake.queueScans("D");
            // Per call nothing is read once stopped; a held port is read on
            // and the scan dropped.
            if (session) {
                Check.that(fake.awaitIdle(WAIT_MS), "the held port read on");
            } else {
                Thread.sleep(100);
            }
            Check.equal(session ? 0 : 1, fake.scansLeft(), "scans left after a read once stopped");
            Thread.sleep(50);
        } finally {
            app.shutdown();
        }
        Check.equal(Collections.singletonList("A"), got, "scans delivered");
    }

    /** Attempts to reach the port while scanning: per-call reads and session opens. */
    static int reads(FakeScanEngine fake) {
        List<String> calls = fake.calls();
        return Collections.frequency(calls, "readData()") + Collections.frequency(calls, "openSession()");
    }

    static void portLossAndReturn(boolean session) throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        Recorder rec = new Recorder();
        ExecutorService app = appExecutor(1);
        try (BarcodeScanner scanner = new BarcodeScanner(engine(fake, session))) {
            fake.setPortPresent(false);
            scanner.startScanning(app, rec);
            Thread.sleep(1000);
            // Retries after 50, 100, 200 and 400 ms: five reads in the first
            // second, where a loop without pause would make thousands.
            int whileAbsent = reads(fake);
            Check.that(whileAbsent >= 3 && whileAbsent <= 7, "reads while absent: " + whileAbsent);
            Check.equal(Collections.singletonList("port:lost"), rec.events, "events while absent");
            // A request is not held up by the back-off.
            long asked = System.nanoTime();
            Check.equal("PORT_UNAVAILABLE", outcome(scanner::engineTimeout), "question while absent");
            Check.that(System.nanoTime() - asked < 500_000_000L, "question waited for the back-off");

            fake.setPortPresent(true);
            // Sent once the port is back: the open flushes what came before.
            Check.that(Check.within(WAIT_MS, () -> rec.count("port:back") == 1), "back");
            fake.queueScans("4006381333931");
            Check.that(Check.within(WAIT_MS, () -> rec.events.size() >= 3), "back and scan delivered");
            fake.setPortPresent(false);
            Check.that(Check.within(WAIT_MS, () -> rec.count("port:lost") == 2), "second loss reported");
            // The back-off starts again at 50 ms: reads at +50, +150, +350 and
            // +750 ms, where one carried on from the first loss makes none.
            int atSecondLoss = reads(fake);
            Thread.sleep(1000);
            int more = reads(fake) - atSecondLoss;
            Check.that(more >= 2, "reads in the second loss's first second: " + more);
        } finally {
            app.shutdown();
        }
        Check.equal(Arrays.asList("port:lost", "port:back", "4006381333931", "port:lost"), rec.events, "events");
        Check.equal(Collections.emptyList(), rec.foreignThreads, "listener calls off the executor");
    }

    static void engineThrows() throws Exception {
        // As NativeScanEngine does when the library cannot be loaded: its
        // openSession throws first.
        AtomicInteger reads = new AtomicInteger();
        ScanEngine broken = (ScanEngine) Proxy.newProxyInstance(ScanEngine.class.getClassLoader(),
                new Class<?>[] {ScanEngine.class}, (proxy, method, args) -> {
                    reads.incrementAndGet();
                    throw new UnsatisfiedLinkError("no scanjni");
                });
        List<Throwable> errors = Collections.synchronizedList(new ArrayList<Throwable>());
        ExecutorService app = appExecutor(1);
        try (BarcodeScanner scanner = new BarcodeScanner(broken)) {
            scanner.startScanning(app, new ScanListener() {
                @Override
                public void onScan(String data) {
                }

                @Override
                public void onError(Throwable error) {
                    errors.add(error);
                }
            });
            Check.that(Check.within(WAIT_MS, () -> errors.size() == 1), "onError called");
            Thread.sleep(100);
            Check.equal(1, reads.get(), "engine calls after the engine threw");
            Check.equal("java.lang.UnsatisfiedLinkError: no scanjni", outcome(scanner::engineTimeout), "request");
        } finally {
            app.shutdown();
        }
        Check.equal(1, errors.size(), "onError calls");
    }

    static void closeScenario(boolean session) throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.setReadWaitMillis(300);
        BarcodeScanner scanner = new BarcodeScanner(engine(fake, session));
        ExecutorService app = appExecutor(1);
        scanner.startScanning(app, data -> { });
        Thread.sleep(50); // a read is in progress
        CompletableFuture<Void> queued = scanner.setEngineTimeout(5);
        long start = System.nanoTime();
        scanner.close();
        long closeMs = (System.nanoTime() - start) / 1_000_000;
        app.shutdown();
        Check.that(queued.isDone() && !queued.isCompletedExceptionally(), "queued request ran");
        Check.equal(5, fake.timeoutNow(), "timeout set by the queued request");
        // Per call the 300 ms read in progress ends on its own; a session's
        // wait is woken.
        Check.that(closeMs < (session ? 200 : 1000), "close took " + closeMs + " ms with a read in progress");
        Check.that(!fake.sessionOpen(), "the session is still open after close");
        for (Thread t : Thread.getAllStackTraces().keySet()) {
            Check.that(!t.getName().equals("scanner-port"), "a port thread is still alive");
        }
        scanner.close();
        int callsAtClose = fake.calls().size();
        List<Runnable> after = Arrays.asList(
                () -> scanner.startScanning(app, data -> { }), scanner::stopScanning, scanner::openEngine,
                scanner::closeEngine, () -> scanner.enable(ScanType.of(1)), () -> scanner.disable(ScanType.of(1)),
                () -> scanner.isEnabled(ScanType.of(1)), scanner::engineTimeout,
                () -> scanner.setEngineTimeout(1), () -> scanner.setting(1), () -> scanner.sendCommand("A"),
                scanner::profile);
        for (int i = 0; i < after.size(); i++) {
            try {
                after.get(i).run();
                throw new AssertionError("call " + i + " after close was accepted");
            } catch (IllegalStateException expected) {
                // refused, as it must be
            } catch (CompletionException e) {
                throw new AssertionError("call " + i + " after close reached the engine", e);
            }
        }
        Check.equal(callsAtClose, fake.calls().size(), "engine calls after close");
    }
}
