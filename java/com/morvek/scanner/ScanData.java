package com.morvek.scanner;

import java.util.Arrays;

/**
 * One scan as the engine sent it: its bytes, when it arrived, and its text.
 * Immutable and safe on any thread; the byte arrays going in and out are
 * copies.
 *
 * <p>The text is what the per-call path's {@link ScanEngine#readData()}
 * gives for the same bytes: bytes that form valid modified UTF-8 (ASCII,
 * C0 80 for U+0000, two- and three-byte forms) become their characters,
 * a valid four-byte UTF-8 sequence becomes its surrogate pair, and every
 * other byte becomes the character of the same value, U+0080 to U+00FF. A
 * zero byte ends the text, as it ends the per-call path's: the bytes after
 * it are only in {@link #bytes()}.
 */
public final class ScanData {
    private final byte[] bytes;
    private final long arrivalNanos;

    /**
     * Makes a scan of a copy of the bytes, for example in a test double of
     * {@link PortSession}.
     *
     * @param bytes the scan's bytes, any values
     * @param arrivalNanos when its first byte arrived, on the clock of
     *        {@link System#nanoTime()}
     * @throws IllegalArgumentException when bytes is null
     */
    public ScanData(byte[] bytes, long arrivalNanos) {
        this(arrivalNanos, copyOf(bytes));
    }

    private ScanData(long arrivalNanos, byte[] owned) {
        this.bytes = owned;
        this.arrivalNanos = arrivalNanos;
    }

    /** A scan that takes the array itself: for an array no one else holds. */
    static ScanData owning(byte[] owned, long arrivalNanos) {
        return new ScanData(arrivalNanos, owned);
    }

    /**
     * A scan of a text: its bytes are the text's modified UTF-8, whose
     * {@link #text()} is the text again.
     */
    static ScanData ofText(String text, long arrivalNanos) {
        return new ScanData(arrivalNanos, modifiedUtf8(text));
    }

    /**
     * The scan's bytes exactly as they came, zero bytes included.
     *
     * @return a new copy
     */
    public byte[] bytes() {
        return bytes.clone();
    }

    /**
     * How many bytes the scan has.
     *
     * @return the count, 1 to 8192 for a scan from the native library
     */
    public int length() {
        return bytes.length;
    }

    /**
     * When the scan's first byte arrived, on the clock of
     * {@link System#nanoTime()}: compare it with that clock only. Without a
     * session the scanner knows only when the read returned, at least the
     * line's quiet gap (20 ms) after the last byte, and gives that.
     *
     * @return the time in nanoseconds
     */
    public long arrivalNanos() {
        return arrivalNanos;
    }

    /**
     * The scan as text, as described for the class: up to the first zero
     * byte, empty when the first byte is zero.
     *
     * @return the text
     */
    public String text() {
        return decode(bytes, bytes.length);
    }

    @Override
    public String toString() {
        return "ScanData " + bytes.length + " bytes";
    }

    private static byte[] copyOf(byte[] bytes) {
        if (bytes == null) {
            throw new IllegalArgumentException("no bytes");
        }
        return Arrays.copyOf(bytes, bytes.length);
    }

    /**
     * The first len bytes as text, by the rules of the class description
     * (those of the native library's conversion for NewStringUTF).
     */
    static String decode(byte[] b, int len) {
        StringBuilder text = new StringBuilder(len);
        int i = 0;
        while (i < len && b[i] != 0) {
            int n = validLength(b, i, len);
            int b0 = b[i] & 0xFF;
            if (n == 0) {
                text.append((char) b0);
                i += 1;
            } else if (n == 1) {
                text.append((char) b0);
            } else if (n == 2) {
                text.append((char) ((b0 & 0x1F) << 6 | (b[i + 1] & 0x3F)));
            } else if (n == 3) {
                text.append((char) ((b0 & 0x0F) << 12 | (b[i + 1] & 0x3F) << 6 | (b[i + 2] & 0x3F)));
            } else {
                text.appendCodePoint((b0 & 0x07) << 18 | (b[i + 1] & 0x3F) << 12 | (b[i + 2] & 0x3F) << 6
                        | (b[i + 3] & 0x3F));
            }
            i += n;
        }
        return text.toString();
    }

    /** The byte at i, or 0 past the end (where the native text has its terminating zero). */
    private static int at(byte[] b, int i, int len) {
        return i < len ? b[i] & 0xFF : 0;
    }

    private static boolean cont(int v) {
        return (v & 0xC0) == 0x80;
    }

    /**
     * The length of the valid sequence at i (1 to 4), or 0 when the byte
     * there starts none.
     */
    private static int validLength(byte[] b, int i, int len) {
        int b0 = at(b, i, len);
        int b1 = at(b, i + 1, len);
        if (b0 < 0x80) {
            return 1;
        }
        if (b0 == 0xC0) {
            return b1 == 0x80 ? 2 : 0;
        }
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            return cont(b1) ? 2 : 0;
        }
        int b2 = at(b, i + 2, len);
        if (b0 >= 0xE0 && b0 <= 0xEF) {
            int lo = b0 == 0xE0 ? 0xA0 : 0x80; // no overlong form
            return b1 >= lo && b1 <= 0xBF && cont(b2) ? 3 : 0;
        }
        if (b0 >= 0xF0 && b0 <= 0xF4) {
            int lo = b0 == 0xF0 ? 0x90 : 0x80; // no overlong form
            int hi = b0 == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
            return b1 >= lo && b1 <= hi && cont(b2) && cont(at(b, i + 3, len)) ? 4 : 0;
        }
        return 0;
    }

    /** The text's modified UTF-8, as the VM's GetStringUTFChars gives it. */
    static byte[] modifiedUtf8(String s) {
        byte[] out = new byte[Answers.modifiedUtf8Length(s)];
        int n = 0;
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c >= 0x01 && c <= 0x7F) {
                out[n++] = (byte) c;
            } else if (c <= 0x7FF) {
                out[n++] = (byte) (0xC0 | c >> 6);
                out[n++] = (byte) (0x80 | c & 0x3F);
            } else {
                out[n++] = (byte) (0xE0 | c >> 12);
                out[n++] = (byte) (0x80 | c >> 6 & 0x3F);
                out[n++] = (byte) (0x80 | c & 0x3F);
            }
        }
        return out;
    }
}
