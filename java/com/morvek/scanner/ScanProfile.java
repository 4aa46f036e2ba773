package com.morvek.scanner;

import com.morvek.scanner.ScannerException.Reason;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * The engine settings an app wants whenever its scanner holds the port:
 * scan types on and off, the engine's timeout, and free commands if it
 * must. An immutable value, made with {@link #builder()} and given to
 * {@link BarcodeScanner#setProfile(ScanProfile)}; the scanner sends it
 * each time it takes the port (the first open, once a busy port is free,
 * once a lost port is back), before it delivers a scan or runs a request,
 * so that an app never sends its settings again by hand.
 *
 * <p>It goes out in a fixed order: the free commands (which may change
 * anything), then the timeout, then the types disabled, then the types
 * enabled, each type in index order.
 *
 * <pre>{@code
 * static final ScanProfile PROFILE = ScanProfile.builder()
 *         .enable(ScanType.of(3))
 *         .engineTimeout(5)
 *         .build();
 * }</pre>
 */
public final class ScanProfile {
    /** Per type index: TRUE enable, FALSE disable, null left as the engine has it. */
    private final Boolean[] types;
    private final Integer timeout; // null: left as the engine has it
    private final List<String> commands;

    private ScanProfile(Builder b) {
        types = b.types.clone();
        timeout = b.timeout;
        commands = Collections.unmodifiableList(new ArrayList<>(b.commands));
    }

    /**
     * Starts a profile that changes nothing.
     *
     * @return a new builder
     */
    public static Builder builder() {
        return new Builder();
    }

    /**
     * Whether the profile enables, disables or leaves a type.
     *
     * @param type the type
     * @return {@code TRUE} enabled, {@code FALSE} disabled, null left as it is
     * @throws NullPointerException when the type is null
     */
    public Boolean typeState(ScanType type) {
        return types[type.index()];
    }

    /**
     * The engine timeout the profile sets.
     *
     * @return the value, -999 to 9999 in the engine's own unit (see
     *         {@link BarcodeScanner#setEngineTimeout(int)}), or null when it is left as it is
     */
    public Integer engineTimeout() {
        return timeout;
    }

    /**
     * The free commands the profile sends, in order.
     *
     * @return an unmodifiable list, possibly empty
     */
    public List<String> commands() {
        return commands;
    }

    /**
     * Sends the profile on the held port. Every step is tried; a lost port
     * ends it at once.
     *
     * @return the first step the engine refused, or null when every one went out
     * @throws ScannerException {@code PORT_UNAVAILABLE} when the port was lost
     */
    ScannerException applyTo(PortSession s) throws ScannerException {
        ScannerException refused = null;
        List<Step> steps = new ArrayList<>();
        for (String c : commands) {
            steps.add(() -> s.sendCommand(c));
        }
        if (timeout != null) {
            steps.add(() -> s.setTimeout(timeout));
        }
        for (boolean on : new boolean[] {false, true}) {
            for (int i = 0; i < types.length; i++) {
                int index = i;
                if (types[i] != null && types[i] == on) {
                    steps.add(() -> s.enableType(index, on));
                }
            }
        }
        for (Step step : steps) {
            try {
                step.run();
            } catch (ScannerException e) {
                if (e.reason() == Reason.PORT_UNAVAILABLE) {
                    throw e;
                }
                if (refused == null) {
                    refused = e;
                }
            }
        }
        return refused;
    }

    private interface Step {
        void run() throws ScannerException;
    }

    @Override
    public boolean equals(Object o) {
        if (!(o instanceof ScanProfile)) {
            return false;
        }
        ScanProfile p = (ScanProfile) o;
        return Arrays.equals(types, p.types) && (timeout == null ? p.timeout == null : timeout.equals(p.timeout))
                && commands.equals(p.commands);
    }

    @Override
    public int hashCode() {
        return (Arrays.hashCode(types) * 31 + (timeout == null ? 0 : timeout)) * 31 + commands.hashCode();
    }

    @Override
    public String toString() {
        StringBuilder b = new StringBuilder("ScanProfile[");
        for (int i = 0; i < types.length; i++) {
            if (types[i] != null) {
                b.append(types[i] ? "+" : "-").append(i).append(' ');
            }
        }
        if (timeout != null) {
            b.append("timeout=").append(timeout).append(' ');
        }
        return b.append("commands=").append(commands.size()).append(']').toString();
    }

    /** Builds a {@link ScanProfile}; not thread-safe. A later setting of the same thing replaces an earlier one. */
    public static final class Builder {
        private final Boolean[] types = new Boolean[ScanType.COUNT];
        private Integer timeout;
        private final List<String> commands = new ArrayList<>();

        private Builder() {
        }

        /**
         * Enables the types.
         *
         * @param list the types
         * @return this builder
         * @throws IllegalArgumentException when the list or a type is null
         */
        public Builder enable(ScanType... list) {
            return set(list, true);
        }

        /**
         * Disables the types.
         *
         * @param list the types
         * @return this builder
         * @throws IllegalArgumentException when the list or a type is null
         */
        public Builder disable(ScanType... list) {
            return set(list, false);
        }

        /**
         * Sets the engine's timeout.
         *
         * @param value {@link BarcodeScanner#MIN_TIMEOUT} to {@link BarcodeScanner#MAX_TIMEOUT}
         * @return this builder
         * @throws IllegalArgumentException when the value is out of range
         */
        public Builder engineTimeout(int value) {
            BarcodeScanner.checkTimeout(value);
            timeout = value;
            return this;
        }

        /**
         * Adds a free command, sent before the other settings.
         *
         * @param text at most {@value BarcodeScanner#MAX_COMMAND_BYTES} bytes in modified UTF-8
         * @return this builder
         * @throws IllegalArgumentException when the text is null or too long
         */
        public Builder command(String text) {
            BarcodeScanner.checkCommand(text);
            commands.add(text);
            return this;
        }

        /**
         * Makes the profile.
         *
         * @return an immutable profile of the settings so far
         */
        public ScanProfile build() {
            return new ScanProfile(this);
        }

        private Builder set(ScanType[] list, boolean on) {
            for (ScanType t : BarcodeScanner.typeList(list)) {
                types[t.index()] = on;
            }
            return this;
        }
    }
}
