package com.morvek.scanner;

/**
 * Calls ScanPortNative itself, in its package, where the public API
 * cannot: a close on one thread while another thread waits on the same
 * session. Prints "@ wait N" (the wait's result), "@ close.ms MS" (how long
 * the close took), "@ after N" (a call with the closed handle) and
 * "@ reopen true" (a new handle for the next open).
 */
public final class PortNativeProbe {
    private static final int WAIT_MS = 5000;
    private static final long WAITING_MS = 200;

    private PortNativeProbe() {
    }

    public static void main(String[] args) throws Exception {
        long handle = ScanPortNative.open();
        int[] waited = {Integer.MIN_VALUE};
        Thread waiter = new Thread(() -> waited[0] = ScanPortNative.waitScan(handle, WAIT_MS,
                new byte[ScanPortNative.MAX_SCAN], new long[1]));
        waiter.start();
        Thread.sleep(WAITING_MS);
        long t = System.nanoTime();
        ScanPortNative.close(handle);
        long closeMs = (System.nanoTime() - t) / 1_000_000;
        waiter.join();
        System.out.println("@ wait " + waited[0]);
        System.out.println("@ close.ms " + closeMs);
        System.out.println("@ after " + ScanPortNative.checkType(handle, 3));
        long again = ScanPortNative.open();
        System.out.println("@ reopen " + (again > handle));
        ScanPortNative.close(again);
    }
}
