package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;

/** Turns the engine's results into values or {@link ScannerException}s. */
final class Answers {
    private Answers() {
    }

    /** A write's result: false means the frame did not go out. */
    static void sent(boolean ok, String what) throws ScannerException {
        if (!ok) {
            throw new ScannerException(Reason.NOT_SENT, what);
        }
    }

    /** A question's text: null is a port failure, the empty text no answer. */
    static String text(String answer, String what) throws ScannerException {
        if (answer == null) {
            throw new ScannerException(Reason.PORT_UNAVAILABLE, what);
        }
        if (answer.isEmpty()) {
            throw new ScannerException(Reason.NO_ANSWER, what);
        }
        return answer;
    }

    /**
     * The timeout's text as a number ("0005" is 5, "-999" is -999). Only an
     * optional '-' followed by ASCII digits, of a value within the timeout's
     * range, is a timeout: a '+', blanks, other digits than ASCII (which
     * {@link Integer#parseInt} takes) or a value out of range are not.
     */
    static int timeout(String answer) throws ScannerException {
        String text = text(answer, "timeout");
        int sign = text.charAt(0) == '-' ? 1 : 0;
        boolean digits = text.length() > sign;
        int magnitude = 0;
        for (int i = sign; digits && i < text.length(); i++) {
            char c = text.charAt(i);
            digits = c >= '0' && c <= '9';
            // Capped just past the range, so that a long text cannot overflow.
            magnitude = Math.min(magnitude * 10 + (c - '0'), BarcodeScanner.MAX_TIMEOUT + 1);
        }
        int value = sign == 1 ? -magnitude : magnitude;
        if (!digits || value < BarcodeScanner.MIN_TIMEOUT || value > BarcodeScanner.MAX_TIMEOUT) {
            throw new ScannerException(Reason.BAD_ANSWER, "timeout \"" + text + "\"");
        }
        return value;
    }

    /**
     * Whether a type is enabled. The check says true only for "enabled";
     * its false also stands for "no answer" and "port failed". After a
     * false the same frame is sent once more as a setting question (the
     * check frame and the question for the type's code are the same
     * bytes), whose result does tell the three apart.
     */
    static boolean enabled(ScanEngine engine, ScanType type) throws ScannerException {
        if (engine.checkType(type.index())) {
            return true;
        }
        String what = "check of " + type;
        String value = text(engine.queryData(type.questionNumber()), what);
        if (value.equals("1")) {
            return true;
        }
        if (value.equals("0")) {
            return false;
        }
        throw new ScannerException(Reason.BAD_ANSWER, what + " answered \"" + value + "\"");
    }

    /** The length of a text in modified UTF-8, as the native side sends it. */
    static int modifiedUtf8Length(String s) {
        int n = 0;
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c >= 0x01 && c <= 0x7F) {
                n += 1;
            } else if (c <= 0x7FF) {
                n += 2;
            } else {
                n += 3;
            }
        }
        return n;
    }
}
