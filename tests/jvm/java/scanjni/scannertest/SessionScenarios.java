package scanjni.scannertest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.FakeScanEngine;
import com.morvek.scanner.PortSession;
import com.morvek.scanner.ScanData;
import com.morvek.scanner.ScanEngine;
import com.morvek.scanner.ScanListener;
import com.morvek.scanner.ScanType;
import com.morvek.scanner.ScannerException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Random;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.TimeUnit;

/** BarcodeScanner on FakeScanEngine's session: what holds with a held port. */
final class SessionScenarios {
    private static final long WAIT_MS = 5000;
    // Generous bounds for what should take a few milliseconds.
    private static final long ANSWER_BOUND_MS = 200;
    private static final long STOP_BOUND_MS = 200;

    private SessionScenarios() {
    }

    static void all(Check check) {
        check.scenario("session: a question while idle-scanning answered at once, stop and close at once",
                SessionScenarios::promptness);
        check.scenario("session: scans at random moments among requests, every one once and whole",
                SessionScenarios::scansAmongRequests);
        check.scenario("session: a request that finds the port lost, then the port back",
                SessionScenarios::lostInRequest);
        check.scenario("scan bytes: as they came, text as the per-call path gives it",
                SessionScenarios::scanBytes);
    }

    static long msSince(long t) {
        return (System.nanoTime() - t) / 1_000_000;
    }

    /** Waits until the port thread is inside a silent wait on the session. */
    static void waitUntilIdle(FakeScanEngine fake) throws Exception {
        Check.that(fake.awaitIdle(WAIT_MS), "a wait began");
    }

    static void promptness() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.setEnabled(ScanType.of(3), true);
        ExecutorService app = FakeScenarios.appExecutor(1);
        try {
            BarcodeScanner scanner = new BarcodeScanner(fake);
            scanner.startScanning(app, data -> { });
            Check.that(scanner.isScanning(), "scanning");
            waitUntilIdle(fake);
            long asked = System.nanoTime();
            Check.equal(true, scanner.isEnabled(ScanType.of(3)).get(WAIT_MS, TimeUnit.MILLISECONDS), "type 3");
            long answerMs = msSince(asked);

            waitUntilIdle(fake);
            long t = System.nanoTime();
            scanner.stopScanning();
            long stopMs = msSince(t);
            Check.that(!scanner.isScanning(), "still scanning after stopScanning");
            Check.equal(true, scanner.isEnabled(ScanType.of(3)).get(WAIT_MS, TimeUnit.MILLISECONDS), "after the stop");
            long releasedMs = msSince(t);

            scanner.startScanning(app, data -> { });
            waitUntilIdle(fake);
            Check.equal(1, Collections.frequency(fake.calls(), "openSession()"), "opens: the port is held until close");
            t = System.nanoTime();
            scanner.close();
            long closeMs = msSince(t);
            System.out.printf("  measured: answer %d ms, stopScanning %d ms (a question answered after %d ms), close %d ms%n",
                    answerMs, stopMs, releasedMs, closeMs);
            Check.that(answerMs < ANSWER_BOUND_MS, "answer took " + answerMs + " ms");
            Check.that(releasedMs < STOP_BOUND_MS, "question answered " + releasedMs + " ms after stopScanning");
            Check.that(closeMs < STOP_BOUND_MS, "close took " + closeMs + " ms");
            Check.that(!fake.sessionOpen(), "session open after close");
        } finally {
            app.shutdown();
        }
    }

    static void scansAmongRequests() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.setEnabled(ScanType.of(3), true);
        FakeScenarios.Recorder rec = new FakeScenarios.Recorder();
        List<String> sent = new ArrayList<>();
        ExecutorService app = FakeScenarios.appExecutor(2);
        Random random = new Random(16);
        try (BarcodeScanner scanner = new BarcodeScanner(fake)) {
            scanner.startScanning(app, rec);
            Thread scanning = new Thread(() -> {
                for (int i = 0; i < 60; i++) {
                    try {
                        Thread.sleep(random.nextInt(15));
                    } catch (InterruptedException e) {
                        return;
                    }
                    String text = FakeScenarios.scanText(i);
                    sent.add(text);
                    fake.queueScans(text);
                }
            });
            scanning.start();
            int asked = 0;
            while (scanning.isAlive()) {
                Check.equal(true, scanner.isEnabled(ScanType.of(3)).get(WAIT_MS, TimeUnit.MILLISECONDS), "type 3");
                scanner.setEngineTimeout(asked % 100).get(WAIT_MS, TimeUnit.MILLISECONDS);
                Check.equal(asked % 100, scanner.engineTimeout().get(WAIT_MS, TimeUnit.MILLISECONDS), "timeout");
                asked++;
            }
            Check.that(Check.within(WAIT_MS, () -> rec.scans().size() >= sent.size()), "all scans delivered");
            Thread.sleep(50);
            Check.that(asked > 10, "only " + asked + " rounds of requests");
        } finally {
            app.shutdown();
        }
        Check.equal(sent, rec.scans(), "scans, once each and in order");
        Check.equal(0, fake.overlappingCalls(), "engine calls that overlapped");
        Check.equal(0, rec.overlaps.get(), "listener calls that overlapped");
    }

    /** The fake's sessions, except that a timeout write finds the port lost (the line hung up). */
    static ScanEngine losingInWrites(FakeScanEngine fake) {
        return (ScanEngine) Proxy.newProxyInstance(ScanEngine.class.getClassLoader(),
                new Class<?>[] {ScanEngine.class}, (proxy, method, args) -> {
                    Object result = call(fake, method, args);
                    if (!method.getName().equals("openSession")) {
                        return result;
                    }
                    return Proxy.newProxyInstance(PortSession.class.getClassLoader(),
                            new Class<?>[] {PortSession.class}, (p, m, a) -> {
                                if (m.getName().equals("setTimeout")) {
                                    throw new ScannerException(ScannerException.Reason.PORT_UNAVAILABLE, "hung up");
                                }
                                return call(result, m, a);
                            });
                });
    }

    static Object call(Object target, Method method, Object[] args) throws Throwable {
        try {
            return method.invoke(target, args);
        } catch (InvocationTargetException e) {
            throw e.getCause();
        }
    }

    static void lostInRequest() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        FakeScenarios.Recorder rec = new FakeScenarios.Recorder();
        ExecutorService app = FakeScenarios.appExecutor(1);
        try (BarcodeScanner scanner = new BarcodeScanner(losingInWrites(fake))) {
            scanner.startScanning(app, rec);
            waitUntilIdle(fake);
            Check.equal("PORT_UNAVAILABLE", FakeScenarios.outcome(() -> scanner.setEngineTimeout(7)), "write");
            Check.that(Check.within(WAIT_MS, () -> rec.count("port:lost") == 1), "loss reported");
            Check.that(Check.within(WAIT_MS, () -> Collections.frequency(fake.calls(), "openSession()") == 2),
                    "the lost session closed and another opened");
            fake.queueScans("C");
            Check.that(Check.within(WAIT_MS, () -> rec.events.size() == 4), "back and scan");
        } finally {
            app.shutdown();
        }
        Check.equal(Arrays.asList("port:ready", "port:lost", "port:back", "C"), rec.events, "events");
    }

    static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            b[i] = (byte) values[i];
        }
        return b;
    }

    static void scanBytes() throws Exception {
        // Bytes, and the text that the native conversion gives for them.
        Object[][] table = {
            {bytes('A', 'B'), "AB"},
            {bytes('A', 0xFF, 0x80, 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80, 0xC0, 0x80, 0xED, 0xA0, 0x80, 0xE2, 0x82, 'B'),
             "A\u00FF\u0080\u00E9\uD83D\uDE00\u0000\uD800\u00E2\u0082B"},
            {bytes(0xC1, 0xBF, 0xE0, 0x80, 0x80, 0xF4, 0x90, 0x80, 0x80, 0xF5), "\u00C1\u00BF\u00E0\u0080\u0080\u00F4\u0090\u0080\u0080\u00F5"},
            {bytes(0xE2, 0x82), "\u00E2\u0082"},
            {bytes('A', 'B', 0, 'C'), "AB"},
            {bytes(0, 'X'), ""},
        };
        for (Object[] row : table) {
            byte[] in = (byte[]) row[0];
            Check.equal(row[1], new ScanData(in, 0).text(), "text of " + Arrays.toString(in));
        }
        // Copies going in and out.
        byte[] in = bytes('A', 0, 'B');
        ScanData scan = new ScanData(in, 42);
        in[0] = 'Z';
        scan.bytes()[2] = 'Z';
        Check.that(Arrays.equals(bytes('A', 0, 'B'), scan.bytes()) && scan.arrivalNanos() == 42, "copies");

        // Through the scanner: bytes as they came on a session, the same
        // text per call; the default onScanData skips an empty text.
        for (boolean session : new boolean[] {false, true}) {
            FakeScanEngine fake = new FakeScanEngine();
            List<String> texts = Collections.synchronizedList(new ArrayList<String>());
            List<byte[]> scans = Collections.synchronizedList(new ArrayList<byte[]>());
            ExecutorService app = FakeScenarios.appExecutor(1);
            long before = System.nanoTime();
            try (BarcodeScanner a = new BarcodeScanner(FakeScenarios.engine(fake, session))) {
                a.startScanning(app, texts::add);
                FakeScenarios.opened(a);
                fake.queueScanBytes(bytes('A', 0, 'B'), bytes(0, 'X'), "é".getBytes(StandardCharsets.UTF_8));
                fake.queueScans("A\u0000B");
                Check.that(Check.within(WAIT_MS, () -> texts.size() == 3), "texts");
            }
            try (BarcodeScanner b = new BarcodeScanner(FakeScenarios.engine(fake, session))) {
                b.startScanning(app, new ScanListener() {
                    @Override
                    public void onScan(String data) {
                    }

                    @Override
                    public void onScanData(ScanData data) {
                        Check.that(data.arrivalNanos() - before >= 0, "arrival before the scan was queued");
                        scans.add(data.bytes());
                    }
                });
                FakeScenarios.opened(b);
                fake.queueScanBytes(bytes('A', 0, 'B'));
                // A text scan's U+0000 is C0 80 in modified UTF-8, one character again as text.
                fake.queueScans("A\u0000B");
                Check.that(Check.within(WAIT_MS, () -> scans.size() == 2), "scan data");
            } finally {
                app.shutdown();
            }
            Check.equal(Arrays.asList("A", "é", "A\u0000B"), texts, "texts" + (session ? " (session)" : ""));
            Check.equal(Arrays.toString(session ? bytes('A', 0, 'B') : bytes('A')), Arrays.toString(scans.get(0)),
                    "bytes" + (session ? " (session)" : " (per call: the text's)"));
            Check.equal(Arrays.toString(bytes('A', 0xC0, 0x80, 'B')), Arrays.toString(scans.get(1)), "bytes of U+0000");
        }
        FakeScanEngine off = new FakeScanEngine();
        off.setSessionOffered(false);
        Check.that(off.openSession() == null && off.calls().isEmpty(), "sessions off: none, unrecorded");
    }
}
