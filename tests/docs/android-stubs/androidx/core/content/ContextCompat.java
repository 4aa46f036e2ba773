package androidx.core.content;

import android.content.Context;
import java.util.concurrent.Executor;

/** Stand-in of the AndroidX class, with only what the README's Activity uses. */
public final class ContextCompat {
    private ContextCompat() {
    }

    public static Executor getMainExecutor(Context context) {
        throw new UnsupportedOperationException("compile-time stand-in");
    }
}
