package com.example.scan;

/**
 * What an app's build generates from its resources, for the README's
 * Activity: its layout is one of Android's own with two text views
 * (android.R.layout.simple_list_item_2), which Robolectric has with the
 * framework's resources.
 */
public final class R {
    private R() {
    }

    public static final class layout {
        public static final int activity_scan = android.R.layout.simple_list_item_2;
    }

    public static final class id {
        public static final int result = android.R.id.text1;
        public static final int status = android.R.id.text2;
    }
}
