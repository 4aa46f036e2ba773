package android.content;

/** Stand-in of the Android class, with only what the README's Activity uses. */
public abstract class Context {
}
