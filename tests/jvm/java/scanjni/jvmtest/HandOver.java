package scanjni.jvmtest;

import com.morvek.scanner.BarcodeScanner;
import com.morvek.scanner.NativeScanEngine;
import com.morvek.scanner.ScanData;
import com.morvek.scanner.ScanListener;
import java.io.File;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.atomic.AtomicReference;

/**
 * A scanner that finds the port held by another process and takes it over
 * when the holder lets it go. args[0] is a file that it creates once its
 * listener has heard onPortBusy (the holder then holds on for as long as
 * it means to, and closes). Reports, on System.nanoTime()'s clock
 * (CLOCK_MONOTONIC) in microseconds: "@ busy.us", "@ free.us" (onPortFree),
 * "@ scan.us" and "@ scan.text" of the first scan delivered after it, or
 * "@ free.us none" when none came within the run's time.
 */
public final class HandOver {
    private static final long RUN_MS = 60000;

    private HandOver() {
    }

    public static void main(String[] args) throws Exception {
        File busyFlag = new File(args[0]);
        ExecutorService app = Executors.newSingleThreadExecutor(r -> new Thread(r, "app-main"));
        AtomicLong busyUs = new AtomicLong();
        AtomicLong freeUs = new AtomicLong();
        AtomicReference<ScanData> first = new AtomicReference<>();
        CountDownLatch scanned = new CountDownLatch(1);
        try (BarcodeScanner scanner = new BarcodeScanner(new NativeScanEngine())) {
            scanner.startScanning(app, new ScanListener() {
                @Override
                public void onScan(String data) {
                }

                @Override
                public void onScanData(ScanData scan) {
                    if (freeUs.get() != 0 && first.compareAndSet(null, scan)) {
                        scanned.countDown();
                    }
                }

                @Override
                public void onPortBusy(com.morvek.scanner.ScannerException refusal) {
                    busyUs.set(System.nanoTime() / 1000);
                    try {
                        busyFlag.createNewFile();
                    } catch (java.io.IOException e) {
                        Report.line("flag", e.toString());
                    }
                }

                @Override
                public void onPortFree() {
                    freeUs.set(System.nanoTime() / 1000);
                }
            });
            scanned.await(RUN_MS, TimeUnit.MILLISECONDS);
        }
        app.shutdown();
        Report.line("busy.us", Long.toString(busyUs.get()));
        Report.line("free.us", freeUs.get() != 0 ? Long.toString(freeUs.get()) : "none");
        ScanData scan = first.get();
        if (scan != null) {
            Report.line("scan.us", Long.toString(scan.arrivalNanos() / 1000));
            Report.line("scan.text", scan.text());
        }
    }
}
