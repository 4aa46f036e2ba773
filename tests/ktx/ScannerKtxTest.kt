package scanjni.ktxtest

import com.morvek.scanner.BarcodeScanner
import com.morvek.scanner.FakeScanEngine
import com.morvek.scanner.ScanType
import com.morvek.scanner.ScannerException
import com.morvek.scanner.ktx.awaitEngineTimeout
import com.morvek.scanner.ktx.awaitEnable
import com.morvek.scanner.ktx.awaitIsEnabled
import com.morvek.scanner.ktx.awaitOpen
import com.morvek.scanner.ktx.awaitSetting
import com.morvek.scanner.ktx.scans
import kotlin.system.exitProcess
import kotlinx.coroutines.CoroutineScope
import kotlinx.coroutines.async
import kotlinx.coroutines.delay
import kotlinx.coroutines.flow.map
import kotlinx.coroutines.flow.take
import kotlinx.coroutines.flow.toList
import kotlinx.coroutines.runBlocking
import kotlinx.coroutines.withTimeout

/** scanner-ktx against the fake engine: suspending requests, scans as a Flow. */
private var passed = 0
private var failed = 0

private fun scenario(name: String, body: suspend CoroutineScope.() -> Unit) {
    try {
        runBlocking { withTimeout(10_000) { body() } }
        passed++
        println("PASS $name")
    } catch (t: Throwable) {
        failed++
        println("FAIL $name: $t")
    }
}

private fun check(condition: Boolean, what: String) {
    if (!condition) throw AssertionError(what)
}

fun main() {
    scenario("requests suspend until answered; a failure is thrown as the ScannerException") {
        val fake = FakeScanEngine()
        fake.putSetting(100002, "9600")
        BarcodeScanner(fake).use { s ->
            s.awaitOpen()
            s.awaitEnable(ScanType.of(3))
            check(s.awaitIsEnabled(ScanType.of(3)), "type 3 enabled")
            check(!s.awaitIsEnabled(ScanType.of(4)), "type 4 disabled")
            check(s.awaitEngineTimeout() == 3000, "timeout")
            check(s.awaitSetting(100002) == "9600", "setting")
            fake.failNext(ScannerException.Reason.NOT_SENT)
            val refused = try {
                s.awaitEnable(ScanType.of(5))
                null
            } catch (e: ScannerException) {
                e.reason()
            }
            check(refused == ScannerException.Reason.NOT_SENT, "refused with $refused")
        }
    }
    scenario("scans as a Flow: whole, in order; the collection's end stops scanning") {
        val fake = FakeScanEngine()
        BarcodeScanner(fake).use { s ->
            val got = async { s.scans().map { it.text() }.take(3).toList() }
            s.awaitOpen()
            check(fake.awaitSessionOpen(5000), "the session")
            while (!s.isScanning) {
                delay(1)
            }
            fake.queueScans("A", "B", "C", "D")
            val texts = got.await()
            check(texts == listOf("A", "B", "C"), "scans $texts")
            check(!s.isScanning, "scanning stopped once the flow ended")
        }
    }
    println("$passed passed, $failed failed")
    exitProcess(if (failed == 0) 0 else 1)
}
