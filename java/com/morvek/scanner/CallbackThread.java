package com.morvek.scanner;

import java.util.ArrayDeque;
import java.util.logging.Level;
import java.util.logging.Logger;

/**
 * A thread of a scanner's own that runs tasks one at a time, in order:
 * where app code runs when it is not to run on the port thread (the
 * completions of request futures, and the hand-over of listener calls to
 * the app's executor). A task that throws is logged; the thread goes on.
 */
final class CallbackThread {
    private static final Logger LOG = Logger.getLogger("com.morvek.scanner");

    private final ArrayDeque<Runnable> tasks = new ArrayDeque<>(); // guarded by itself
    private boolean ending; // guarded by tasks
    private final Thread thread;

    CallbackThread(String name) {
        thread = new Thread(this::loop, name);
        thread.setDaemon(true);
        thread.start();
    }

    Thread thread() {
        return thread;
    }

    /** Any thread: queues the task; never blocks. Tasks posted after {@link #end()} are dropped. */
    void post(Runnable task) {
        synchronized (tasks) {
            if (!ending) {
                tasks.add(task);
                tasks.notifyAll();
            }
        }
    }

    /** Any thread: the thread ends once the tasks already posted have run. */
    void end() {
        synchronized (tasks) {
            ending = true;
            tasks.notifyAll();
        }
    }

    private void loop() {
        for (;;) {
            Runnable task;
            synchronized (tasks) {
                while (tasks.isEmpty() && !ending) {
                    try {
                        tasks.wait();
                    } catch (InterruptedException e) {
                        // Only this class runs here; an interrupt changes nothing.
                    }
                }
                task = tasks.poll();
            }
            if (task == null) {
                return;
            }
            try {
                task.run();
            } catch (Throwable t) {
                LOG.log(Level.WARNING, "a scanner callback threw", t);
            }
        }
    }
}
