package android.os;

/** Stand-in of the Android class, with only what the README's Activity uses. */
public final class Bundle {
}
