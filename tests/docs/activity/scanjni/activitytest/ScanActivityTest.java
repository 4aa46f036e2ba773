package scanjni.activitytest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import android.os.Build;
import android.widget.TextView;
import com.example.scan.R;
import com.example.scan.ScanActivity;
import com.morvek.scanner.FakeScanEngine;
import com.morvek.scanner.ScanType;
import java.util.concurrent.Callable;
import org.junit.Test;
import org.junit.runner.RunWith;
import org.robolectric.Robolectric;
import org.robolectric.RobolectricTestRunner;
import org.robolectric.android.controller.ActivityController;
import org.robolectric.annotation.Config;
import org.robolectric.shadows.ShadowLooper;

/**
 * The README's Activity, as written there, on Android 7.0 (SDK 24) under
 * Robolectric, against the fake engine: its lifecycle, its listener on the
 * main Looper, and twenty rotations while scans arrive.
 */
@RunWith(RobolectricTestRunner.class)
@Config(sdk = ScanActivityTest.SDK, manifest = Config.NONE, shadows = ShadowNativeScanEngine.class, instrumentedPackages = "com.morvek.scanner")
public class ScanActivityTest {
    static final int SDK = 24;
    private static final long WAIT_MS = 10_000;
    private static final int ROTATIONS = 20;

    /** Runs the main Looper until the condition holds; false after WAIT_MS. */
    private static boolean until(Callable<Boolean> condition) throws Exception {
        return until(condition, WAIT_MS);
    }

    /** Runs the main Looper until the condition holds; false after the wait. */
    static boolean until(Callable<Boolean> condition, long waitMs) throws Exception {
        long end = System.nanoTime() + waitMs * 1_000_000;
        while (!condition.call()) {
            if (System.nanoTime() > end) {
                return false;
            }
            ShadowLooper.idleMainLooper();
            Thread.sleep(2);
        }
        return true;
    }

    static String text(ActivityController<ScanActivity> c, int id) {
        return ((TextView) c.get().findViewById(id)).getText().toString();
    }

    /**
     * The engine holds the profile and the screen shows a port that works:
     * "ready" or the question's answer, whichever the main thread ran last.
     */
    private static boolean ready(ActivityController<ScanActivity> c, FakeScanEngine fake) {
        String status = text(c, R.id.status);
        return fake.enabledNow(ScanType.of(3)) && (status.equals("ready") || status.equals("type 3 enabled"));
    }

    @Test
    public void lifecycleAndRotations() throws Exception {
        assertEquals(SDK, Build.VERSION.SDK_INT);
        FakeScanEngine fake = new FakeScanEngine();
        ShadowNativeScanEngine.fake = fake;
        ActivityController<ScanActivity> c = Robolectric.buildActivity(ScanActivity.class).setup();
        assertTrue("the profile sent, the port's state on the main thread", until(() -> ready(c, fake)));
        fake.queueScans("4006381333931");
        assertTrue(until(() -> text(c, R.id.result).equals("4006381333931")));

        // onPause lets the port go; onResume takes it again and sends the profile again.
        c.pause();
        assertTrue("the port let go in onPause", !fake.sessionOpen());
        fake.setEnabled(ScanType.of(3), false);
        c.resume();
        assertTrue(until(() -> ready(c, fake)));

        // Twenty rotations while the engine sends a scan every few milliseconds.
        Thread sender = new Thread(() -> {
            for (int i = 0; !Thread.currentThread().isInterrupted(); i++) {
                fake.queueScans("scan " + i);
                try {
                    Thread.sleep(3);
                } catch (InterruptedException e) {
                    return;
                }
            }
        });
        sender.start();
        try {
            for (int i = 0; i < ROTATIONS; i++) {
                c.recreate();
                ShadowLooper.idleMainLooper();
                assertTrue("rotation " + i + ": scans reach the new screen",
                        until(() -> text(c, R.id.result).startsWith("scan ")));
            }
        } finally {
            sender.interrupt();
            sender.join();
        }
        fake.queueScans("last");
        assertTrue(until(() -> text(c, R.id.result).equals("last")));
        assertTrue(until(() -> ready(c, fake)));
        c.pause().stop().destroy();
        assertTrue("no session left open", !fake.sessionOpen());
    }
}
