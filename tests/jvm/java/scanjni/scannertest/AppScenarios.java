package scanjni.scannertest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.FakeScanEngine;
import com.morvek.scanner.PortHolder;
import com.morvek.scanner.ScanListener;
import com.morvek.scanner.ScanType;
import com.morvek.scanner.ScannerException;
import com.morvek.scanner.ScannerException.Reason;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.TimeUnit;

/** What an app does to a scanner: slow code on every thread it is given, two owners, a forgotten scanner. */
final class AppScenarios {
    private static final long WAIT_MS = 5000;
    private static final int SLOW_SCANS = 15;
    private static final long SCAN_GAP_MS = 200;
    private static final long SLOW_LISTENER_MS = 2000;
    /** The longest back-off pause, as the scanner documents it. */
    private static final long MAX_BACKOFF_MS = 2000;

    private AppScenarios() {
    }

    static void all(Check check) {
        check.scenario("a listener on a direct executor sleeps 2 s: the port is read on, every scan once, whole, in order",
                AppScenarios::slowListener);
        check.scenario("a sleeping thenAccept stage and a get() inside onScan on a direct executor",
                AppScenarios::blockingAppCode);
        check.scenario("past the bound the oldest waiting scans are dropped and reported", AppScenarios::bound);
        check.scenario("two scanners: busy, then free when the first closes; another app; back-off on the test's clock",
                AppScenarios::twoOwners);
        check.scenario("a forgotten scanner: the next one is told, and gets the port once it is collected",
                AppScenarios::forgotten);
        check.scenario("the fake on the test's clock: no answer after the budget, scripted faults, a hang-up",
                AppScenarios::faultsOnTheTestsClock);
    }

    private static void sleep(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static void slowListener() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        List<String> got = Collections.synchronizedList(new ArrayList<String>());
        List<Integer> leftAfterSleep = new ArrayList<>();
        List<String> threads = Collections.synchronizedList(new ArrayList<String>());
        List<String> sent = new ArrayList<>();
        try (BarcodeScanner scanner = new BarcodeScanner(fake)) {
            scanner.startScanning(Runnable::run, data -> {
                threads.add(Thread.currentThread().getName());
                if (got.isEmpty()) {
                    sleep(SLOW_LISTENER_MS);
                    leftAfterSleep.add(fake.scansLeft());
                }
                got.add(data);
            });
            Check.that(fake.awaitSessionOpen(WAIT_MS), "session open");
            for (int i = 0; i < SLOW_SCANS; i++) {
                sent.add(FakeScenarios.scanText(i));
                fake.queueScans(sent.get(i));
                Thread.sleep(SCAN_GAP_MS);
            }
            Check.that(Check.within(WAIT_MS, () -> got.size() == SLOW_SCANS), "every scan delivered");
        }
        Check.equal(sent, got, "scans, once each, whole and in order");
        // The port thread took the scans while the listener slept (all but one
        // queued that very moment; ten when the listener holds up the port).
        Check.that(leftAfterSleep.get(0) <= 1, "scans the port had not taken after the sleep: " + leftAfterSleep);
        Check.that(!threads.contains("scanner-port"), "the listener ran on the port thread");
    }

    static void blockingAppCode() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.setAnswerDelayMillis(FakeScanEngine.ANSWER_BUDGET_MS / 2); // the stage is added before the answer
        FakeScenarios.Recorder rec = new FakeScenarios.Recorder();
        ExecutorService app = FakeScenarios.appExecutor(1);
        try (BarcodeScanner a = new BarcodeScanner(fake)) {
            // A dependent stage that sleeps runs on the result thread: scans are read and delivered meanwhile.
            CountDownLatch stageRuns = new CountDownLatch(1);
            CompletableFuture<Void> stage = a.engineTimeout().thenAccept(v -> {
                stageRuns.countDown();
                sleep(SLOW_LISTENER_MS);
            });
            a.startScanning(app, rec);
            Check.that(stageRuns.await(WAIT_MS, TimeUnit.MILLISECONDS), "the stage runs");
            fake.queueScans("1", "2");
            Check.that(Check.within(SLOW_LISTENER_MS / 2, () -> rec.scans().size() == 2), "scans while the stage sleeps");
            Check.that(!stage.isDone(), "the stage is still asleep");
        } finally {
            app.shutdown();
        }
        // A get() inside onScan on a direct executor neither hangs nor holds up reading.
        List<Object> inOnScan = Collections.synchronizedList(new ArrayList<>());
        FakeScanEngine fake2 = new FakeScanEngine();
        try (BarcodeScanner b = new BarcodeScanner(fake2)) {
            b.startScanning(Runnable::run, data -> {
                try {
                    inOnScan.add(b.engineTimeout().get(WAIT_MS, TimeUnit.MILLISECONDS));
                } catch (Exception e) {
                    inOnScan.add(e.toString());
                }
            });
            Check.that(fake2.awaitSessionOpen(WAIT_MS), "session open");
            fake2.queueScans("1", "2");
            Check.that(Check.within(WAIT_MS, () -> inOnScan.size() == 2), "both onScan calls returned");
        }
        Check.equal(Arrays.asList(3000, 3000), inOnScan, "answers inside onScan");
    }

    static void bound() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        FakeScenarios.Recorder rec = new FakeScenarios.Recorder();
        CountDownLatch release = new CountDownLatch(1);
        CountDownLatch entered = new CountDownLatch(1);
        int extra = 5;
        int total = BarcodeScanner.MAX_QUEUED_SCANS + 1 + extra;
        List<String> expected = new ArrayList<>(Arrays.asList("0", "dropped:" + extra));
        for (int i = 1 + extra; i < total; i++) {
            expected.add(Integer.toString(i));
        }
        try (BarcodeScanner scanner = new BarcodeScanner(fake)) {
            scanner.startScanning(Runnable::run, new ScanListener() {
                @Override
                public void onScan(String data) {
                    entered.countDown();
                    try {
                        release.await();
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                    }
                    rec.onScan(data);
                }

                @Override
                public void onScansDropped(int count) {
                    rec.onScansDropped(count);
                }
            });
            Check.that(fake.awaitSessionOpen(WAIT_MS), "session open");
            // The first is in the listener, 64 wait, and the 5 oldest of the rest go.
            fake.queueScans("0");
            Check.that(entered.await(WAIT_MS, TimeUnit.MILLISECONDS), "the listener is busy");
            for (int i = 1; i < total; i++) {
                fake.queueScans(Integer.toString(i));
            }
            Check.that(fake.awaitIdle(WAIT_MS), "every scan read");
            release.countDown();
            Check.that(Check.within(WAIT_MS, () -> rec.events.size() >= expected.size()), "delivered");
        }
        Check.equal(expected, rec.events, "scans around the drop");
    }

    static void twoOwners() throws Exception {
        FakeScanEngine fakeA = new FakeScanEngine();
        FakeScanEngine fakeB = new FakeScanEngine(fakeA);
        fakeA.takeClockInHand();
        FakeScenarios.Recorder first = new FakeScenarios.Recorder();
        FakeScenarios.Recorder second = new FakeScenarios.Recorder();
        ExecutorService app = FakeScenarios.appExecutor(1);
        try (BarcodeScanner b = new BarcodeScanner(fakeB)) {
            BarcodeScanner a = new BarcodeScanner(fakeA);
            a.startScanning(app, first);
            Check.that(fakeA.awaitSessionOpen(WAIT_MS), "the first scanner holds the port");
            b.startScanning(app, second);
            Check.that(Check.within(WAIT_MS, () -> second.events.size() == 1), "busy told");
            ScannerException busy = (ScannerException) second.errors.get(0);
            Check.equal("PORT_BUSY: another BarcodeScanner of this app holds the scanner: close the other BarcodeScanner",
                    busy.getMessage(), "busy message");
            Check.equal("PORT_BUSY", FakeScenarios.outcome(b::engineTimeout), "request of the second scanner");
            int opens = Collections.frequency(fakeA.calls(), "openSession()");
            Thread.sleep(100);
            Check.equal(opens, Collections.frequency(fakeA.calls(), "openSession()"),
                    "opens while the test's clock stands still");
            a.close();
            fakeA.advanceClock(MAX_BACKOFF_MS);
            Check.that(Check.within(WAIT_MS, () -> second.events.size() == 2), "free told");
            Check.equal("3000", FakeScenarios.outcome(b::engineTimeout), "request once free");
        }
        Check.equal(Collections.singletonList("port:ready"), first.events, "first scanner's events");
        Check.equal(Arrays.asList("port:busy:THIS_APP", "port:free"), second.events, "second scanner's events");

        // Another app holds the port, then lets it go.
        FakeScanEngine fake = new FakeScanEngine();
        fake.setHeldByAnotherApp(true);
        FakeScenarios.Recorder rec = new FakeScenarios.Recorder();
        try (BarcodeScanner c = new BarcodeScanner(fake)) {
            c.startScanning(app, rec);
            Check.that(Check.within(WAIT_MS, () -> rec.events.size() == 1), "busy told");
            Check.equal("PORT_BUSY: another app holds the scanner", rec.errors.get(0).getMessage(), "message");
            fake.setHeldByAnotherApp(false);
            Check.that(Check.within(WAIT_MS, () -> rec.events.size() == 2), "free told");
        } finally {
            app.shutdown();
        }
        Check.equal(Arrays.asList("port:busy:OTHER_APP", "port:free"), rec.events, "events");
    }

    /** Takes the port in a scanner that is then dropped without close. */
    private static void useAndForget(FakeScanEngine fake) throws Exception {
        BarcodeScanner forgotten = new BarcodeScanner(fake);
        forgotten.open().get(WAIT_MS, TimeUnit.MILLISECONDS);
    }

    /** The ScannerException a request failed with. */
    static ScannerException failure(CompletableFuture<?> request) throws Exception {
        try {
            request.get(WAIT_MS, TimeUnit.MILLISECONDS);
        } catch (ExecutionException e) {
            if (e.getCause() instanceof ScannerException) {
                return (ScannerException) e.getCause();
            }
            throw e;
        }
        throw new AssertionError("the request did not fail");
    }

    static void forgotten() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        useAndForget(fake);
        try (BarcodeScanner next = new BarcodeScanner(fake)) {
            ScannerException busy = failure(next.open());
            Check.equal(PortHolder.THIS_APP, busy.holder(), "holder");
            Check.that(busy.getMessage().contains("close the other BarcodeScanner"), busy.getMessage());
            // The next scanner waits for the release, and takes the port at once.
            Check.that(Check.within(WAIT_MS, () -> {
                System.gc();
                return fake.calls().contains("session.close()");
            }), "the forgotten scanner let the port go once collected");
            Check.equal("null", FakeScenarios.outcome(next::open), "the next scanner's open after that");
        }
    }

    static void faultsOnTheTestsClock() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.takeClockInHand();
        fake.putSetting(100002, "9600");
        FakeScenarios.Recorder rec = new FakeScenarios.Recorder();
        ExecutorService app = FakeScenarios.appExecutor(1);
        try (BarcodeScanner s = new BarcodeScanner(fake)) {
            s.startScanning(app, rec);
            Check.that(fake.awaitIdle(WAIT_MS), "idle");
            // Silence: no answer until the test's clock has passed the budget.
            fake.setSilent(true);
            CompletableFuture<Integer> silent = s.engineTimeout();
            Thread.sleep(100);
            Check.that(!silent.isDone(), "answered before the budget passed");
            fake.advanceClock(FakeScanEngine.ANSWER_BUDGET_MS);
            Check.equal("NO_ANSWER", FakeScenarios.outcome(() -> silent), "silent question");
            fake.setSilent(false);
            // Scripted faults, one per request, in order; a write leaves a question's fault for the question.
            fake.failNext(Reason.NOT_SENT, Reason.BAD_ANSWER);
            Check.equal("NOT_SENT", FakeScenarios.outcome(() -> s.enable(ScanType.of(4))), "write");
            Check.equal("null", FakeScenarios.outcome(() -> s.enable(ScanType.of(4))), "write after");
            Check.equal("BAD_ANSWER", FakeScenarios.outcome(s::engineTimeout), "garbled answer");
            // A hang-up while a question waits: the request fails at once, then the listener hears the loss.
            fake.setAnswerDelayMillis(FakeScanEngine.ANSWER_BUDGET_MS / 2);
            CompletableFuture<String> pending = s.setting(100002);
            pending.whenComplete((v, e) -> rec.events.add("request: " + (e == null ? v : e.getMessage())));
            Thread.sleep(50);
            Check.that(!pending.isDone(), "the question waits for the test's clock");
            fake.setPortPresent(false);
            Check.that(Check.within(WAIT_MS, () -> rec.count("port:lost") == 1), "loss told");
        } finally {
            app.shutdown();
        }
        Check.equal(Arrays.asList("port:ready", "request: PORT_UNAVAILABLE: session.setting(100002): the line hung up",
                "port:lost"), rec.events, "events");
    }
}
