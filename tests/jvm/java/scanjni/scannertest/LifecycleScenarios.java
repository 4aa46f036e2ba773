package scanjni.scannertest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.FakeScanEngine;
import com.morvek.scanner.PortSession;
import com.morvek.scanner.ScanData;
import com.morvek.scanner.ScanListener;
import com.morvek.scanner.ScanProfile;
import com.morvek.scanner.ScanType;
import com.morvek.scanner.ScannerException;
import com.morvek.scanner.ScannerException.Reason;
import com.morvek.scanner.SessionEngine;
import java.lang.ref.WeakReference;
import java.lang.reflect.InvocationHandler;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.CancellationException;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.atomic.AtomicReference;
import java.util.logging.Handler;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.logging.Logger;

/** A scanner through an app's lifecycle: close under app code that blocks or throws, the back-off, the fake's parity. */
final class LifecycleScenarios {
    private static final long WAIT_MS = 5000;
    /** Longer than close()'s own bound (2 s): a close that takes this long hangs. */
    private static final long HANG_MS = 10_000;
    private static final int ROUNDS = 1000;
    private static final long FIRST_BACKOFF_MS = 50;

    private LifecycleScenarios() {
    }

    static void all(Check check) {
        check.scenario("close is bounded: a stage blocked on another request's get(), an engine that never returns",
                LifecycleScenarios::closeBounded);
        check.scenario("close: a session whose close throws, a blocked listener, close from a stage",
                LifecycleScenarios::closeUnderAppFaults);
        check.scenario("a request that finds the port lost fails before the listener hears the loss",
                LifecycleScenarios::lossAfterFailure);
        check.scenario("a listener that throws: the next scan is still delivered", LifecycleScenarios::listenerThrows);
        check.scenario("back-off capped at 2 s on the test's clock", LifecycleScenarios::backOffCapped);
        check.scenario("1000 rounds each: lost then back one back-off step after the telling, busy then free at the release",
                LifecycleScenarios::backOffRounds);
        check.scenario("hand-over: the waiting scanner takes the port at the holder's close, the clock standing still",
                LifecycleScenarios::handOver);
        check.scenario("a closed scanner is no longer watched; a forgotten one is", LifecycleScenarios::watching);
        check.scenario("per call: an empty read is no scan", LifecycleScenarios::emptyRead);
        check.scenario("the fake flushes at the open what came while no session held the port",
                LifecycleScenarios::flushedBetweenClaims);
        for (boolean session : new boolean[] {true, false}) {
            check.scenario("the profile at every claim, before any scan: first open, lost then back"
                    + (session ? ", busy then free (session)" : " (per call)"), () -> profileAtEveryClaim(session));
        }
        check.scenario("the fake: an answer delayed by the whole budget is an answer, past it none",
                LifecycleScenarios::answerAtTheBudget);
    }

    /** Runs close() on a thread of its own; true when it returned within HANG_MS. */
    private static boolean closes(BarcodeScanner scanner) throws InterruptedException {
        Thread t = new Thread(scanner::close, "closer");
        t.start();
        t.join(HANG_MS);
        return !t.isAlive();
    }

    private static Throwable cause(CompletableFuture<?> f) throws Exception {
        try {
            f.get(WAIT_MS, TimeUnit.MILLISECONDS);
            return null;
        } catch (ExecutionException e) {
            return e.getCause();
        } catch (CancellationException e) {
            return e;
        }
    }

    /**
     * A question that waits for the test's clock (1 ms), so that the
     * stages the caller adds run on the scanner's result thread once the
     * clock moves; later questions are answered at once.
     */
    private static CompletableFuture<Integer> answeredLate(FakeScanEngine fake, BarcodeScanner s) throws Exception {
        fake.setAnswerDelayMillis(1);
        CompletableFuture<Integer> f = s.engineTimeout();
        Check.that(fake.awaitQuestion(WAIT_MS), "the question waits");
        fake.setAnswerDelayMillis(0);
        return f;
    }

    static void closeBounded() throws Exception {
        // A non-async stage of one request waits on the result thread for
        // another request, whose completion is queued behind it.
        FakeScanEngine fake = new FakeScanEngine();
        fake.takeClockInHand();
        BarcodeScanner scanner = new BarcodeScanner(fake);
        CompletableFuture<Integer> second = new CompletableFuture<>();
        AtomicReference<Throwable> seenByStage = new AtomicReference<>();
        CountDownLatch stageEnded = new CountDownLatch(1);
        answeredLate(fake, scanner).thenRun(() -> {
            CompletableFuture<Integer> timeout = scanner.engineTimeout();
            second.complete(0);
            try {
                timeout.get();
            } catch (Exception e) {
                seenByStage.set(e);
            }
            stageEnded.countDown();
        });
        fake.advanceClock(1);
        Check.that(second.get(WAIT_MS, TimeUnit.MILLISECONDS) == 0, "the stage runs");
        Check.that(closes(scanner), "close returned");
        Check.that(stageEnded.await(WAIT_MS, TimeUnit.MILLISECONDS), "the stage's get() was released");
        Check.that(seenByStage.get() instanceof CancellationException, "the stage saw " + seenByStage.get());

        // An engine of the app's own whose wait ignores wake(): the queued request fails.
        AppSession stuck = new AppSession(true, false);
        BarcodeScanner second2 = new BarcodeScanner(stuck.engine());
        second2.startScanning(Runnable::run, data -> { });
        Check.that(stuck.waiting.await(WAIT_MS, TimeUnit.MILLISECONDS), "the wait began");
        CompletableFuture<Void> queued = second2.openEngine();
        Check.that(closes(second2), "close returned");
        Check.that(cause(queued) instanceof CancellationException, "the queued request failed: " + cause(queued));
        stuck.release.countDown();
        Check.that(Check.within(WAIT_MS, () -> stuck.calls.contains("close")), "the session closed once its wait returned");
        Check.that(!stuck.calls.contains("writeOpen"), "the dropped request was never run");
    }

    static void closeUnderAppFaults() throws Exception {
        // A session whose close() throws: the port loop still ends.
        AppSession throwing = new AppSession(false, true);
        BarcodeScanner a = new BarcodeScanner(throwing.engine());
        Check.equal("null", FakeScenarios.outcome(a::open), "open");
        long started = System.nanoTime();
        Check.that(closes(a), "close returned");
        Check.that(System.nanoTime() - started < TimeUnit.SECONDS.toNanos(2), "close did not wait out its bound");
        Check.that(throwing.calls.contains("close"), "the session's close was called");

        // A listener that never returns, and close() called from a future's stage.
        FakeScanEngine fake = new FakeScanEngine();
        fake.takeClockInHand();
        BarcodeScanner b = new BarcodeScanner(fake);
        CountDownLatch never = new CountDownLatch(1);
        b.startScanning(Runnable::run, data -> {
            try {
                never.await();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        fake.queueScans("A");
        Check.that(fake.awaitIdle(WAIT_MS), "the scan was taken");
        AtomicLong inStage = new AtomicLong(-1);
        CountDownLatch closedInStage = new CountDownLatch(1);
        CompletableFuture<Integer> late = answeredLate(fake, b);
        late.thenRun(() -> {
            Check.equal("scanner-results", Thread.currentThread().getName(), "the stage's thread");
            long t = System.nanoTime();
            b.close();
            inStage.set(System.nanoTime() - t);
            closedInStage.countDown();
        });
        fake.advanceClock(1);
        Check.that(closedInStage.await(HANG_MS, TimeUnit.MILLISECONDS), "close in a stage returned");
        // The stage runs on the result thread: close() must not wait for it (2 s, its bound, if it did).
        Check.that(inStage.get() < TimeUnit.MILLISECONDS.toNanos(1500), "close in a stage took " + inStage.get() + " ns");
        Check.that(!fake.sessionOpen(), "the port was let go while the listener blocks");
        never.countDown();
    }

    static void lossAfterFailure() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        AtomicReference<Boolean> failedFirst = new AtomicReference<>();
        AtomicReference<CompletableFuture<String>> request = new AtomicReference<>();
        CountDownLatch hold = new CountDownLatch(1);
        CountDownLatch holding = new CountDownLatch(1);
        try (BarcodeScanner s = new BarcodeScanner(fake)) {
            s.startScanning(Runnable::run, new ScanListener() {
                @Override
                public void onScan(String data) {
                }

                @Override
                public void onPortLost() {
                    // The loss can be told before setting() has returned the
                    // request to the test: its future exists (and must be
                    // done) by then, only the test's reference lags.
                    CompletableFuture<String> r;
                    long end = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(WAIT_MS);
                    while ((r = request.get()) == null && System.nanoTime() < end) {
                        Thread.yield();
                    }
                    failedFirst.set(r != null && r.isDone());
                }
            });
            Check.that(fake.awaitIdle(WAIT_MS), "idle");
            // The result thread is held by a stage, so that the failure's completion waits behind it.
            s.openEngine().thenRun(() -> {
                holding.countDown();
                try {
                    hold.await(WAIT_MS, TimeUnit.MILLISECONDS);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            });
            Check.that(holding.await(WAIT_MS, TimeUnit.MILLISECONDS), "the stage holds the result thread");
            fake.failNext(Reason.PORT_UNAVAILABLE);
            request.set(s.setting(7));
            Thread.sleep(100);
            hold.countDown();
            Check.that(Check.within(WAIT_MS, () -> failedFirst.get() != null), "loss told");
            Check.that(failedFirst.get(), "the request had failed when the loss was told");
        }
    }

    static void listenerThrows() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        List<String> got = Collections.synchronizedList(new ArrayList<String>());
        try (BarcodeScanner s = new BarcodeScanner(fake)) {
            s.startScanning(Runnable::run, data -> {
                got.add(data);
                if (data.equals("A")) {
                    throw new IllegalStateException("the app's bug");
                }
            });
            FakeScenarios.opened(s);
            fake.queueScans("A");
            Check.that(Check.within(WAIT_MS, () -> got.size() == 1), "first scan");
            fake.queueScans("B");
            Check.that(Check.within(WAIT_MS, () -> got.size() == 2), "the scan after the throw");
        }
    }

    static void backOffCapped() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.takeClockInHand();
        fake.setPortPresent(false);
        try (BarcodeScanner s = new BarcodeScanner(fake)) {
            s.startScanning(Runnable::run, data -> { });
            // 50, 100, ... 1600, then 2000 each time: every 2 s step makes one more attempt.
            for (int step = 0; step < 12; step++) {
                int before = Collections.frequency(fake.calls(), "openSession()");
                Check.that(fake.awaitClockWait(WAIT_MS), "the pause before step " + step);
                fake.advanceClock(2000);
                Check.that(Check.within(WAIT_MS, () -> Collections.frequency(fake.calls(), "openSession()") > before),
                        "an attempt after step " + step);
            }
        }
    }

    /** The port's state events, as a queue the test takes them from. */
    private static class PortEvents implements ScanListener {
        final BlockingQueue<String> events = new LinkedBlockingQueue<>();

        @Override
        public void onScan(String data) {
        }

        @Override
        public void onPortLost() {
            events.add("lost");
        }

        @Override
        public void onPortBack() {
            events.add("back");
        }

        @Override
        public void onPortReady() {
            events.add("ready");
        }

        @Override
        public void onPortBusy(ScannerException refusal) {
            events.add("busy");
        }

        @Override
        public void onPortFree() {
            events.add("free");
        }

        @Override
        public void onProfileRefused(ScannerException refusal) {
            events.add("refused " + refusal.reason());
        }

        String next() throws InterruptedException {
            return events.poll(WAIT_MS, TimeUnit.MILLISECONDS);
        }
    }

    /** Each loss and each busy port is followed by its return after one first back-off step on the clock. */
    static void backOffRounds() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.takeClockInHand();
        PortEvents heard = new PortEvents();
        try (BarcodeScanner s = new BarcodeScanner(fake)) {
            s.startScanning(Runnable::run, heard);
            Check.equal("ready", heard.next(), "first");
            for (int round = 1; round <= ROUNDS; round++) {
                fake.setPortPresent(false);
                Check.equal("lost", heard.next(), "round " + round);
                fake.setPortPresent(true);
                fake.advanceClock(FIRST_BACKOFF_MS);
                Check.equal("back", heard.next(), "round " + round);
            }
        }
        FakeScanEngine holder = new FakeScanEngine();
        FakeScanEngine other = new FakeScanEngine(holder);
        holder.takeClockInHand();
        PortEvents waiter = new PortEvents();
        try (BarcodeScanner s = new BarcodeScanner(other)) {
            s.startScanning(Runnable::run, waiter);
            Check.equal("ready", waiter.next(), "first");
            for (int round = 1; round <= ROUNDS; round++) {
                // The port hangs up, and another app takes it before this scanner tries again.
                holder.setHeldByAnotherApp(true);
                holder.setPortPresent(false);
                Check.equal("lost", waiter.next(), "round " + round);
                holder.setPortPresent(true);
                holder.advanceClock(FIRST_BACKOFF_MS);
                Check.equal("busy", waiter.next(), "round " + round);
                holder.setHeldByAnotherApp(false); // free at the release, the clock standing still
                Check.equal("free", waiter.next(), "round " + round);
            }
        }
    }

    private static final ScanProfile PROFILE = ScanProfile.builder()
            .enable(ScanType.of(3)).disable(ScanType.of(5)).engineTimeout(7).command("X").build();

    /** Whether the engine holds the profile's settings now. */
    private static boolean holdsProfile(FakeScanEngine fake) {
        return fake.enabledNow(ScanType.of(3)) && !fake.enabledNow(ScanType.of(5)) && fake.timeoutNow() == 7;
    }

    /** The engine forgets the profile's settings, as one that was restarted or changed by another app. */
    private static void forget(FakeScanEngine fake) {
        fake.setEnabled(ScanType.of(3), false);
        fake.setEnabled(ScanType.of(5), true);
        fake.setTimeout(3000);
        fake.clearCalls();
    }

    /** The profile's frames, in the order they go out. */
    private static List<String> profileCalls(boolean session) {
        return session
                ? Arrays.asList("session.sendCommand(\"X\")", "session.setTimeout(7)", "session.enableType(5, false)",
                        "session.enableType(3, true)")
                : Arrays.asList("sendCommand(\"X\")", "setTimeout(7)", "disableType(5)", "enableType(3)");
    }

    /**
     * The profile goes out at each claim, before a scan is delivered: each
     * scan's listener call sees the engine holding it, and the frames are
     * the first calls after the open.
     */
    static void profileAtEveryClaim(boolean session) throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.setSessionOffered(session);
        fake.setReadWaitMillis(0); // per call a read waits on the clock in hand, close() included
        fake.takeClockInHand();
        PortEvents heard = new PortEvents() {
            @Override
            public void onScan(String data) {
                events.add(data + (holdsProfile(fake) ? "" : " without the profile"));
            }
        };
        try (BarcodeScanner s = new BarcodeScanner(fake)) {
            Check.equal("null", FakeScenarios.outcome(() -> s.setProfile(PROFILE)), "the profile sent now");
            Check.that(holdsProfile(fake), "the engine holds the profile");
            s.startScanning(Runnable::run, heard);
            Check.equal("ready", heard.next(), "first");
            fake.queueScans("A");
            Check.equal("A", heard.next(), "scan after the first claim");

            // Lost, the engine forgets, back: the profile goes out again before the next scan.
            fake.setPortPresent(false);
            Check.equal("lost", heard.next(), "lost");
            forget(fake);
            if (session) {
                fake.failNext(Reason.NOT_SENT); // the profile's command is refused at this claim
            }
            fake.setPortPresent(true);
            fake.advanceClock(FIRST_BACKOFF_MS);
            if (session) {
                Check.equal("back", heard.next(), "back");
                Check.equal("refused NOT_SENT", heard.next(), "the refusal, told at that claim");
                fake.queueScans("B");
            } else {
                fake.queueScans("B"); // per call the port is back at the first read that works
                Check.equal("back", heard.next(), "back");
            }
            Check.equal("B", heard.next(), "scan after the port came back");
            List<String> expected = profileCalls(session);
            Check.equal(expected, afterOpen(fake, expected.size()), "the claim's first calls");

            if (session) {
                // Lost, another app takes the port meanwhile, then lets it go.
                fake.setHeldByAnotherApp(true);
                fake.setPortPresent(false);
                Check.equal("lost", heard.next(), "lost again");
                fake.setPortPresent(true);
                fake.advanceClock(FIRST_BACKOFF_MS);
                Check.equal("busy", heard.next(), "busy");
                forget(fake);
                fake.setHeldByAnotherApp(false);
                Check.equal("free", heard.next(), "free");
                fake.queueScans("C");
                Check.equal("C", heard.next(), "scan after the port was free");
                Check.equal(expected, afterOpen(fake, expected.size()), "the calls after the open");
            }
        }
        Check.that(heard.events.isEmpty(), "told besides: " + heard.events);
    }

    /** The first calls after the last open recorded (per call none is). */
    private static List<String> afterOpen(FakeScanEngine fake, int count) {
        List<String> calls = fake.calls();
        int from = calls.lastIndexOf("openSession()") + 1;
        return calls.subList(from, Math.min(calls.size(), from + count));
    }

    static void handOver() throws Exception {
        FakeScanEngine first = new FakeScanEngine();
        FakeScanEngine second = new FakeScanEngine(first);
        first.takeClockInHand();
        PortEvents heard = new PortEvents();
        BarcodeScanner holder = new BarcodeScanner(first);
        Check.equal("null", FakeScenarios.outcome(holder::open), "the first scanner's open");
        try (BarcodeScanner waiter = new BarcodeScanner(second)) {
            waiter.setProfile(PROFILE);
            waiter.startScanning(Runnable::run, heard);
            Check.equal("busy", heard.next(), "the second scanner");
            forget(first);
            holder.close();
            Check.equal("free", heard.next(), "at the holder's close");
            Check.that(holdsProfile(first), "the profile went out at the claim");
            // A request while the port is busy ends the wait for the release, and still runs.
            holder = new BarcodeScanner(first);
        }
        Check.equal("null", FakeScenarios.outcome(holder::open), "the port free again at the waiter's close");
        try (BarcodeScanner waiter = new BarcodeScanner(second)) {
            Check.equal("PORT_BUSY", FakeScenarios.outcome(waiter::engineTimeout), "a request on the busy port");
            holder.close();
            Check.equal("7", FakeScenarios.outcome(waiter::engineTimeout), "a request once the port is free");
        }
    }

    /** Warnings of the scanner's logger, as texts. */
    private static final class Warnings extends Handler {
        final List<String> texts = Collections.synchronizedList(new ArrayList<String>());

        @Override
        public void publish(LogRecord r) {
            if (r.getLevel().intValue() >= Level.WARNING.intValue()) {
                texts.add(r.getMessage());
            }
        }

        @Override
        public void flush() {
        }

        @Override
        public void close() {
        }
    }

    private static WeakReference<BarcodeScanner> used(FakeScanEngine fake, boolean close) throws Exception {
        BarcodeScanner s = new BarcodeScanner(fake);
        Check.equal("null", FakeScenarios.outcome(s::open), "open");
        if (close) {
            s.close();
        }
        return new WeakReference<>(s);
    }

    private static void collect(WeakReference<?> ref) throws Exception {
        Check.that(Check.within(WAIT_MS, () -> {
            System.gc();
            return ref.get() == null;
        }), "collected");
    }

    static void watching() throws Exception {
        Logger log = Logger.getLogger("com.morvek.scanner");
        Warnings warnings = new Warnings();
        log.addHandler(warnings);
        try {
            FakeScanEngine fake = new FakeScanEngine();
            collect(used(fake, true));
            collect(used(fake, false));
            // The forgotten scanner's port is let go after its warning.
            Check.that(Check.within(WAIT_MS, () -> !fake.sessionOpen()), "the forgotten scanner let the port go");
            Check.equal(1, warnings.texts.size(), "warnings: " + warnings.texts);
        } finally {
            log.removeHandler(warnings);
        }
    }

    /** A screen turning: one scanner closes, the next opens; a scan sent in between is gone, as on the device. */
    static void flushedBetweenClaims() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        BlockingQueue<String> got = new LinkedBlockingQueue<>();
        for (String between : new String[] {"between 1", "between 2"}) {
            try (BarcodeScanner s = new BarcodeScanner(fake)) {
                s.startScanning(Runnable::run, got::add);
                FakeScenarios.opened(s);
                fake.queueScans("held");
                Check.equal("held", got.poll(WAIT_MS, TimeUnit.MILLISECONDS), "the scan while held");
            }
            fake.queueScans(between);
        }
        Check.that(got.isEmpty(), "delivered: " + got);
    }

    static void emptyRead() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.setSessionOffered(false);
        fake.setReadWaitMillis(0);
        List<Integer> lengths = Collections.synchronizedList(new ArrayList<Integer>());
        try (BarcodeScanner s = new BarcodeScanner(fake)) {
            s.startScanning(Runnable::run, new ScanListener() {
                @Override
                public void onScan(String data) {
                }

                @Override
                public void onScanData(ScanData scan) {
                    lengths.add(scan.length());
                }
            });
            Check.that(Check.within(WAIT_MS, () -> Collections.frequency(fake.calls(), "readData()") >= 5), "reads");
            fake.queueScans("AB");
            Check.that(Check.within(WAIT_MS, () -> !lengths.isEmpty()), "the scan");
        }
        Check.equal(Collections.singletonList(2), lengths, "scan lengths delivered");
    }

    static void answerAtTheBudget() throws Exception {
        FakeScanEngine fake = new FakeScanEngine();
        fake.takeClockInHand();
        try (BarcodeScanner s = new BarcodeScanner(fake)) {
            for (long delay : new long[] {FakeScanEngine.ANSWER_BUDGET_MS, FakeScanEngine.ANSWER_BUDGET_MS + 1}) {
                fake.setAnswerDelayMillis(delay);
                CompletableFuture<Integer> t = s.engineTimeout();
                Check.that(fake.awaitQuestion(WAIT_MS), "the question waits");
                fake.advanceClock(delay);
                String expected = delay <= FakeScanEngine.ANSWER_BUDGET_MS ? "3000" : "NO_ANSWER";
                Check.equal(expected, FakeScenarios.outcome(() -> t), "answer " + delay + " ms late");
            }
        }
    }

    /**
     * An app's own engine of one session (a proxy of both interfaces): its
     * wait ignores wake() until released, or its close throws; the other
     * calls do nothing. Records the names of the calls.
     */
    static final class AppSession implements InvocationHandler {
        final boolean ignoresWake;
        final boolean closeThrows;
        final List<String> calls = Collections.synchronizedList(new ArrayList<String>());
        final CountDownLatch waiting = new CountDownLatch(1);
        final CountDownLatch release = new CountDownLatch(1);

        AppSession(boolean ignoresWake, boolean closeThrows) {
            this.ignoresWake = ignoresWake;
            this.closeThrows = closeThrows;
        }

        SessionEngine engine() {
            return (SessionEngine) Proxy.newProxyInstance(getClass().getClassLoader(),
                    new Class<?>[] {SessionEngine.class, PortSession.class}, this);
        }

        @Override
        public Object invoke(Object proxy, Method m, Object[] args) throws Throwable {
            calls.add(m.getName());
            switch (m.getName()) {
                case "openSession":
                    return proxy;
                case "awaitScan":
                    waiting.countDown();
                    if (ignoresWake) {
                        release.await();
                    } else {
                        Thread.sleep(10); // a short wait, whatever wake() does
                    }
                    return null;
                case "close":
                    if (closeThrows) {
                        throw new IllegalStateException("the app's session failed to close");
                    }
                    return null;
                case "checkType":
                    return false;
                case "hashCode":
                    return System.identityHashCode(proxy);
                case "equals":
                    return proxy == args[0];
                case "timeout":
                case "setting":
                case "toString":
                    return "0000";
                default:
                    return null;
            }
        }
    }
}
