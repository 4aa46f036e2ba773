package com.morvek.scanner;

/**
 * One of the engine's 35 scan types: its index (0 to 34), which the
 * operations take, and its six-digit code, which the engine's frames
 * carry. What each type reads is the engine's matter; this class gives
 * them no names. Instances are shared: {@code of(i) == of(i)}. Immutable and
 * safe on any thread.
 */
public final class ScanType {
    /** How many scan types the engine has. */
    public static final int COUNT = 35;

    private static final String[] CODES = {
        "999001", "931001", "936001", "900003", "922001", "923001", "908002",
        "901001", "904002", "909001", "929001", "916001", "915001", "910001",
        "926001", "920001", "919001", "918001", "932001", "902002", "937001",
        "907001", "930001", "917001", "925001", "903001", "924001", "928001",
        "905001", "906001", "911001", "927001", "921001", "912003", "914010",
    };
    private static final ScanType[] TYPES = new ScanType[COUNT];

    static {
        for (int i = 0; i < COUNT; i++) {
            TYPES[i] = new ScanType(i, CODES[i]);
        }
    }

    private final int index;
    private final String code;

    private ScanType(int index, String code) {
        this.index = index;
        this.code = code;
    }

    /**
     * The type of an index.
     *
     * @param index 0 to 34
     * @return the type
     * @throws IllegalArgumentException when the index is out of range
     */
    public static ScanType of(int index) {
        if (index < 0 || index >= COUNT) {
            throw new IllegalArgumentException("scan type index " + index + " is not in 0.." + (COUNT - 1));
        }
        return TYPES[index];
    }

    /**
     * The type of a six-digit code.
     *
     * @param code the code, for example "900003"
     * @return the type
     * @throws IllegalArgumentException when no type has that code (null included)
     */
    public static ScanType byCode(String code) {
        for (ScanType t : TYPES) {
            if (t.code.equals(code)) {
                return t;
            }
        }
        throw new IllegalArgumentException("no scan type has the code " + code);
    }

    /**
     * The index that the engine operations take.
     *
     * @return 0 to 34
     */
    public int index() {
        return index;
    }

    /**
     * The six-digit code that the engine's frames carry.
     *
     * @return the code
     */
    public String code() {
        return code;
    }

    /**
     * The code as a setting number: a question for this number sends the
     * same frame as the check of this type.
     */
    int questionNumber() {
        return Integer.parseInt(code);
    }

    @Override
    public String toString() {
        return "ScanType " + index + " (" + code + ")";
    }
}
