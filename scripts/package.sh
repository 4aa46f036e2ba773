#!/bin/bash
# Packs the library for an app's build, under dist/ (git-ignored):
#   scanner-VERSION.aar       the Android library archive: the manifest,
#                             classes.jar (scanner.jar of the build),
#                             libscanjni.so of both ARM ABIs (release builds,
#                             unstripped), the consumer keep rules, an empty
#                             R.txt and res/, and the archive's metadata
#   scanner-fake-VERSION.jar  FakeScanEngine, for apps' unit tests
#   maven/                    a Maven repository holding both, with POMs:
#                             com.morvek.scanner:scanner:VERSION (aar) and
#                             com.morvek.scanner:scanner-fake:VERSION (jar)
# VERSION is ScannerVersion.NAME in java/com/morvek/scanner/ScannerVersion.java.
# Two runs on the same tree write the same bytes: jar sorts the entries and
# gives each the same fixed time.
#   scripts/package.sh [OUT-DIR [JAVA-BUILD-DIR [ARM-BUILD-DIR]]]
# The jars come from the host build (default build, as the test command
# configures it), the libraries from the release builds of the release
# check (default build-release-arm and build-release-arm64, the 64-bit one
# being ARM-BUILD-DIR with 64 appended).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

. scripts/jvm-tmp.sh

out=${1:-dist}
java_build=${2:-build}
arm_build=${3:-build-release-arm}

group=com.morvek.scanner
package=com.morvek.scanner
min_sdk=24
# The lowest compileSdk an app needs: the classes' signatures use
# CompletableFuture and Executor, which android.jar has from API 24.
min_compile_sdk=24
version=$(sed -n 's/^ *public static final String NAME = "\([^"]*\)";$/\1/p' \
              java/com/morvek/scanner/ScannerVersion.java)
if [ -z "$version" ]; then
    echo "package: no version in java/com/morvek/scanner/ScannerVersion.java" >&2
    exit 1
fi

cmake -S . -B "$java_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$java_build" -j2 scanner_jars >/dev/null
bash tools/release-build.sh arm-linux-gnueabihf "$arm_build"
bash tools/release-build.sh aarch64-linux-gnu "${arm_build}64"
# The fixed time of every zip entry, the same as the build's jars.
zip_date=$(sed -n 's/^SCANJNI_ZIP_DATE:INTERNAL=//p' "$java_build/CMakeCache.txt")

# pack ZIP DIR: every file and directory under DIR, no jar manifest.
pack() {
    rm -f "$1"
    jar -J-XX:-UsePerfData --create --no-manifest --date="$zip_date" --file "$1" -C "$2" .
}

# The archive's contents, laid out afresh in the build directory.
stage=$java_build/aar
rm -rf "$stage"
mkdir -p "$stage/res" "$stage/jni/armeabi-v7a" "$stage/jni/arm64-v8a" \
         "$stage/META-INF/com/android/build/gradle"
cat >"$stage/AndroidManifest.xml" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<manifest xmlns:android="http://schemas.android.com/apk/res/android"
    package="$package"
    android:versionName="$version">
    <uses-sdk android:minSdkVersion="$min_sdk" />
</manifest>
EOF
# What the Android Gradle plugin checks before it uses an archive.
cat >"$stage/META-INF/com/android/build/gradle/aar-metadata.properties" <<EOF
aarFormatVersion=1.0
aarMetadataVersion=1.0
minCompileSdk=$min_compile_sdk
minCompileSdkExtension=0
minAndroidGradlePluginVersion=1.0.0
EOF
: >"$stage/R.txt"
cp "$java_build/scanner.jar" "$stage/classes.jar"
cp java/com/morvek/scanner/scanjni-rules.pro "$stage/proguard.txt"
cp "$arm_build/libscanjni.so" "$stage/jni/armeabi-v7a/"
cp "${arm_build}64/libscanjni.so" "$stage/jni/arm64-v8a/"

# pom ARTIFACT PACKAGING DESCRIPTION [DEPENDENCY-ARTIFACT DEPENDENCY-TYPE]
pom() {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<project xmlns="http://maven.apache.org/POM/4.0.0"'
    echo '         xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"'
    echo '         xsi:schemaLocation="http://maven.apache.org/POM/4.0.0 https://maven.apache.org/xsd/maven-4.0.0.xsd">'
    echo '  <modelVersion>4.0.0</modelVersion>'
    echo "  <groupId>$group</groupId>"
    echo "  <artifactId>$1</artifactId>"
    echo "  <version>$version</version>"
    echo "  <packaging>$2</packaging>"
    echo "  <description>$3</description>"
    if [ $# -gt 3 ]; then
        echo '  <dependencies>'
        echo '    <dependency>'
        echo "      <groupId>$group</groupId>"
        echo "      <artifactId>$4</artifactId>"
        echo "      <version>$version</version>"
        echo "      <type>$5</type>"
        echo '    </dependency>'
        echo '  </dependencies>'
    fi
    echo '</project>'
}

mkdir -p "$out"
rm -rf "$out/maven"
rm -f "$out"/scanner-*.aar "$out"/scanner-fake-*.jar
aar=$out/scanner-$version.aar
fake=$out/scanner-fake-$version.jar
pack "$aar" "$stage"
cp "$java_build/scanner-fake.jar" "$fake"

repo=$out/maven/${group//.//}
mkdir -p "$repo/scanner/$version" "$repo/scanner-fake/$version"
cp "$aar" "$repo/scanner/$version/"
pom scanner aar "The barcode scan engine on /dev/ttyMT1 from Java: ScanNative, BarcodeScanner and libscanjni.so" \
    >"$repo/scanner/$version/scanner-$version.pom"
cp "$fake" "$repo/scanner-fake/$version/"
# The fake implements the archive's ScanEngine, so it needs the archive.
pom scanner-fake jar "FakeScanEngine: a scripted scan engine for unit tests of apps that use BarcodeScanner" \
    scanner aar >"$repo/scanner-fake/$version/scanner-fake-$version.pom"

echo "package: version $version in $out"
(cd "$out" && find . -type f | LC_ALL=C sort | xargs stat -c '  %8s  %n')
