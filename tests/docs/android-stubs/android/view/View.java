package android.view;

/** Stand-in of the Android class, with only what the README's Activity uses. */
public class View {
}
