package com.morvek.scanner;

/**
 * The version of this library: the Java classes and the native
 * {@code libscanjni.so} released with them. The one place where the version
 * is written; the packaging step reads it from here for the archive's name,
 * its manifest and the Maven coordinates.
 *
 * <p>A class of its own, so that reading the version loads nothing: not
 * the native library (which {@link ScanNative} loads as it initialises) and
 * no other class of the package.
 */
public final class ScannerVersion {
    /**
     * The version, as "MAJOR.MINOR.PATCH". A constant: the compiler copies
     * it into the code that reads it, which in an app is built together
     * with the library, so it names the library the app ships.
     */
    public static final String NAME = "1.0.0";

    private ScannerVersion() {
    }
}
