package scanjni.scannertest;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;

/**
 * A minimal scenario runner: each scenario is a named body that throws on
 * the first failed check. Prints one line per scenario and the closing
 * line "N passed, N failed"; the exit status is 1 when any failed.
 */
final class Check {
    interface Body {
        void run() throws Exception;
    }

    private final List<String> failures = new ArrayList<>();
    private int passed;

    void scenario(String name, Body body) {
        long start = System.nanoTime();
        try {
            body.run();
            passed++;
            System.out.println("PASS " + name + " (" + (System.nanoTime() - start) / 1_000_000 + " ms)");
        } catch (Throwable t) {
            failures.add(name);
            System.out.println("FAIL " + name + ": " + t);
            t.printStackTrace(System.out);
        }
    }

    int finish() {
        System.out.println(passed + " passed, " + failures.size() + " failed");
        return failures.isEmpty() ? 0 : 1;
    }

    static void that(boolean condition, String what) {
        if (!condition) {
            throw new AssertionError(what);
        }
    }

    static void equal(Object expected, Object actual, String what) {
        if (expected == null ? actual != null : !expected.equals(actual)) {
            throw new AssertionError(what + ": expected <" + expected + "> but was <" + actual + ">");
        }
    }

    /** Waits up to ms for the condition; false when it never held. */
    static boolean within(long ms, Callable<Boolean> condition) throws Exception {
        long end = System.nanoTime() + ms * 1_000_000;
        while (!condition.call()) {
            if (System.nanoTime() > end) {
                return false;
            }
            Thread.sleep(5);
        }
        return true;
    }
}
