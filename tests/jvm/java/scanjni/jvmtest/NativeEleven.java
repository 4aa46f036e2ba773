package scanjni.jvmtest;

import com.morvek.scanner.ScanEngine;
import com.morvek.scanner.ScanNative;

/** The eleven per-call operations of ScanNative as an engine without a session, as an app's own code writes it. */
final class NativeEleven implements ScanEngine {
    @Override
    public boolean openDev() {
        return ScanNative.openDev();
    }

    @Override
    public boolean closeDev() {
        return ScanNative.closeDev();
    }

    @Override
    public String readData() {
        return ScanNative.readData();
    }

    @Override
    public boolean checkType(int type) {
        return ScanNative.checkType(type);
    }

    @Override
    public boolean enableType(int type) {
        return ScanNative.enableType(type);
    }

    @Override
    public boolean disableType(int type) {
        return ScanNative.disableType(type);
    }

    @Override
    public boolean setTimeout(int timeout) {
        return ScanNative.setTimeout(timeout);
    }

    @Override
    public String getTimeout() {
        return ScanNative.getTimeout();
    }

    @Override
    public boolean sendCommand(String command) {
        return ScanNative.sendCommand(command);
    }

    @Override
    public String queryData(int number) {
        return ScanNative.queryData(number);
    }

    @Override
    public boolean profileScanType() {
        return ScanNative.profileScanType();
    }
}
