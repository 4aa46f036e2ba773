package com.morvek.scanner;

/**
 * NativePortSession.close on one thread while another waits on the
 * session: "@ wait RESULT" (what the wait returned), "@ close.ms MS" (how
 * long the close took) and "@ woken.ms MS" (from the close's start to the
 * wait's end), then "@ end ok". A close that does not wake the wait takes
 * the wait's whole 5 s.
 */
public final class SessionCloseProbe {
    private static final int LONG_WAIT_MS = 5000;
    private static final long WAIT_BEGINS_MS = 100;

    private SessionCloseProbe() {
    }

    public static void main(String[] args) throws Exception {
        PortSession session = NativePortSession.open();
        String[] result = {"running"};
        long[] ended = {0};
        Thread waiter = new Thread(() -> {
            try {
                result[0] = String.valueOf(session.awaitScan(LONG_WAIT_MS));
            } catch (Exception | Error e) {
                result[0] = e.getClass().getSimpleName();
            }
            ended[0] = System.nanoTime();
        });
        waiter.start();
        Thread.sleep(WAIT_BEGINS_MS);
        long t = System.nanoTime();
        session.close();
        long closeMs = (System.nanoTime() - t) / 1_000_000;
        waiter.join();
        System.out.println("@ wait " + result[0]);
        System.out.println("@ close.ms " + closeMs);
        System.out.println("@ woken.ms " + (ended[0] - t) / 1_000_000);
        System.out.println("@ end ok");
    }
}
