package scanjni.activitytest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import android.os.Build;
import com.example.scan.R;
import com.example.scan.ScanActivity;
import java.util.concurrent.Callable;
import org.junit.Test;
import org.junit.runner.RunWith;
import org.robolectric.Robolectric;
import org.robolectric.RobolectricTestRunner;
import org.robolectric.android.controller.ActivityController;
import org.robolectric.annotation.Config;

/**
 * The README's Activity under Robolectric at SDK 24 on the real library:
 * run by the JVM suite (jni_jvm_tests) in the device namespace, where the
 * simulated engine sends scans "R..." and checks the profile it received.
 * Prints "@ activity ok" when every step passed.
 */
@RunWith(RobolectricTestRunner.class)
@Config(sdk = ScanActivityTest.SDK, manifest = Config.NONE)
public class ScanActivityRealTest {
    private static final long WAIT_MS = 20_000;
    private static final int ROTATIONS = 3;

    private static boolean until(Callable<Boolean> condition) throws Exception {
        return ScanActivityTest.until(condition, WAIT_MS);
    }

    private static String text(ActivityController<ScanActivity> c, int id) {
        return ScanActivityTest.text(c, id);
    }

    @Test
    public void onTheLibrary() throws Exception {
        assertEquals(ScanActivityTest.SDK, Build.VERSION.SDK_INT);
        ActivityController<ScanActivity> c = Robolectric.buildActivity(ScanActivity.class).setup();
        for (int i = 0; i <= ROTATIONS; i++) {
            if (i > 0) {
                c.recreate();
            }
            assertTrue("scans on screen " + i, until(() -> text(c, R.id.result).startsWith("R")));
            assertTrue("the port works on screen " + i, until(() -> text(c, R.id.status).equals("ready")
                    || text(c, R.id.status).equals("type 3 enabled")));
        }
        c.pause().stop().destroy();
        System.out.println();  // after JUnit's progress dot
        System.out.println("@ activity ok");
    }
}
