package android.app;

import android.content.Context;
import android.os.Bundle;
import android.view.View;

/** Stand-in of the Android class, with only what the README's Activity uses. */
public class Activity extends Context {
    protected void onCreate(Bundle savedInstanceState) {
    }

    protected void onResume() {
    }

    protected void onPause() {
    }

    public void setContentView(int layoutResId) {
    }

    public <T extends View> T findViewById(int id) {
        throw new UnsupportedOperationException("compile-time stand-in");
    }
}
