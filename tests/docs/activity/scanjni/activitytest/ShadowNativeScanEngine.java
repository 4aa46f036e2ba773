package scanjni.activitytest;

import com.morvek.scanner.FakeScanEngine;
import com.morvek.scanner.NativeScanEngine;
import com.morvek.scanner.PortSession;
import com.morvek.scanner.ScannerException;
import org.robolectric.annotation.Implementation;
import org.robolectric.annotation.Implements;

/** The README's Activity makes a NativeScanEngine; under this shadow its sessions are the fake's. */
@Implements(NativeScanEngine.class)
public class ShadowNativeScanEngine {
    static volatile FakeScanEngine fake;

    @Implementation
    protected PortSession openSession() throws ScannerException {
        return fake.openSession();
    }
}
