package scanjni.jvmtest;

/**
 * Loads the library in one of two ways and reports what Java saw.
 *
 * <p>"library": System.loadLibrary from this class, for a class path
 * without com.morvek.scanner.ScanNative. "class": initialises whatever
 * ScanNative the class path holds (a variant that does not match the
 * library's method table), whose static initialiser loads the library.
 */
public final class Load {
    private Load() {
    }

    public static void main(String[] args) {
        try {
            if ("library".equals(args[0])) {
                System.loadLibrary("scanjni");
            } else {
                Class.forName("com.morvek.scanner.ScanNative");
            }
            Report.line("load", "ok");
        } catch (Throwable e) {
            Report.line("load", e.getClass().getName());
        }
    }
}
