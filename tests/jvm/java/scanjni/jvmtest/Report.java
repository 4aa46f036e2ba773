package scanjni.jvmtest;

/**
 * Result lines on stdout, one per call: "@ label value". A string is shown
 * in double quotes with every character outside printable ASCII (and the
 * backslash and the quote) as \\uXXXX, so that the exact UTF-16 contents
 * can be compared; null is shown as null.
 */
final class Report {
    private Report() {
    }

    static void result(String label, boolean value) {
        line(label, Boolean.toString(value));
    }

    static void result(String label, String value) {
        line(label, quoted(value));
    }

    static void line(String label, String value) {
        System.out.println("@ " + label + " " + value);
        System.out.flush();
    }

    static String quoted(String s) {
        if (s == null) {
            return "null";
        }
        StringBuilder b = new StringBuilder("\"");
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
                b.append(c);
            } else {
                b.append(String.format("\\u%04x", (int) c));
            }
        }
        return b.append('"').toString();
    }
}
