@file:JvmName("ScannerKtx")

package com.morvek.scanner.ktx

import com.morvek.scanner.BarcodeScanner
import com.morvek.scanner.ScanData
import com.morvek.scanner.ScanListener
import com.morvek.scanner.ScanProfile
import com.morvek.scanner.ScanType
import com.morvek.scanner.ScannerException
import java.util.concurrent.Executor
import kotlinx.coroutines.channels.awaitClose
import kotlinx.coroutines.channels.trySendBlocking
import kotlinx.coroutines.flow.Flow
import kotlinx.coroutines.flow.callbackFlow
import kotlinx.coroutines.future.await

// The requests of BarcodeScanner as suspending functions: each suspends
// until the request's future completes and returns its value, or throws
// what it failed with (a ScannerException for a failure at the engine).
// Cancelling the coroutine stops the wait; the request itself still runs
// on the port, in its turn.

/** [BarcodeScanner.open], suspending until the port is held. */
suspend fun BarcodeScanner.awaitOpen() {
    open().await()
}

/** [BarcodeScanner.setProfile], suspending until the profile went out. */
suspend fun BarcodeScanner.awaitSetProfile(profile: ScanProfile?) {
    setProfile(profile).await()
}

/** [BarcodeScanner.openEngine], suspending until the frame went out. */
suspend fun BarcodeScanner.awaitOpenEngine() {
    openEngine().await()
}

/** [BarcodeScanner.closeEngine], suspending until the frame went out. */
suspend fun BarcodeScanner.awaitCloseEngine() {
    closeEngine().await()
}

/** [BarcodeScanner.enable], suspending until every frame went out. */
suspend fun BarcodeScanner.awaitEnable(vararg types: ScanType) {
    enable(*types).await()
}

/** [BarcodeScanner.disable], suspending until every frame went out. */
suspend fun BarcodeScanner.awaitDisable(vararg types: ScanType) {
    disable(*types).await()
}

/** [BarcodeScanner.isEnabled]: the engine's answer. */
suspend fun BarcodeScanner.awaitIsEnabled(type: ScanType): Boolean = isEnabled(type).await()

/** [BarcodeScanner.engineTimeout]: the engine's timeout setting. */
suspend fun BarcodeScanner.awaitEngineTimeout(): Int = engineTimeout().await()

/** [BarcodeScanner.setEngineTimeout], suspending until the frame went out. */
suspend fun BarcodeScanner.awaitSetEngineTimeout(value: Int) {
    setEngineTimeout(value).await()
}

/** [BarcodeScanner.setting]: the setting's value as the engine sent it. */
suspend fun BarcodeScanner.awaitSetting(number: Int): String = setting(number).await()

/** [BarcodeScanner.sendCommand], suspending until the frame went out. */
suspend fun BarcodeScanner.awaitSendCommand(text: String) {
    sendCommand(text).await()
}

/** [BarcodeScanner.profile], suspending until the frame went out. */
suspend fun BarcodeScanner.awaitProfile() {
    profile().await()
}

/**
 * The scans as a cold [Flow]: collecting it starts scanning (replacing a
 * listener given before, which hears nothing more) and the scans come
 * whole and in order; ending the collection stops scanning, the port
 * stays held until [BarcodeScanner.close]. A collector slower than the
 * engine holds the scans back in the scanner (up to
 * [BarcodeScanner.MAX_QUEUED_SCANS]; past that the oldest are dropped,
 * as [ScanListener.onScansDropped] says). A busy or lost port only
 * pauses the flow; an engine that throws ends it with what it threw.
 * Only the port's events on [executor] (default: the scanner's own event
 * thread) are handed to the flow; collect it on the dispatcher of your
 * choice.
 */
fun BarcodeScanner.scans(executor: Executor = Executor(Runnable::run)): Flow<ScanData> = callbackFlow {
    startScanning(executor, object : ScanListener {
        override fun onScan(data: String) {
        }

        override fun onScanData(scan: ScanData) {
            trySendBlocking(scan)
        }

        override fun onPortBusy(refusal: ScannerException) {
            // Not an end: the scanner retries until the port is free.
        }

        override fun onError(error: Throwable) {
            close(error)
        }
    })
    awaitClose {
        try {
            stopScanning()
        } catch (closed: IllegalStateException) {
            // The scanner was closed first: nothing is scanning.
        }
    }
}
