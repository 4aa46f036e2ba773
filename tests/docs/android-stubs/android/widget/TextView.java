package android.widget;

import android.view.View;

/** Stand-in of the Android class, with only what the README's Activity uses. */
public class TextView extends View {
    public final void setText(CharSequence text) {
        throw new UnsupportedOperationException("compile-time stand-in");
    }
}
