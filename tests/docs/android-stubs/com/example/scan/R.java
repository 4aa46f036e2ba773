package com.example.scan;

/** What the app's build generates from its resources: the ids the README's Activity uses. */
public final class R {
    private R() {
    }

    public static final class layout {
        public static final int activity_scan = 1;
    }

    public static final class id {
        public static final int result = 2;
        public static final int status = 3;
    }
}
