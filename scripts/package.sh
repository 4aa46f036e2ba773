#!/bin/bash
# Packs the library for an app's build, under dist/ (git-ignored):
#   scanner-VERSION.aar       the Android library archive: the manifest,
#                             classes.jar (scanner.jar of the build),
#                             libscanjni.so of both ARM ABIs (release builds,
#                             unstripped), the consumer keep rules, an empty
#                             R.txt and res/, the archive's metadata, and
#                             the native API for an app's own C or C++
#                             code under prefab/ (the headers and the same
#                             libraries, as the Android Gradle plugin's
#                             native dependencies take them)
#   scanner-fake-VERSION.jar  FakeScanEngine, for apps' unit tests
#   scanner-ktx-VERSION.jar   Kotlin: suspending requests, scans as a Flow
#   maven/                    a Maven repository holding them, with POMs:
#                             com.morvek.scanner:scanner:VERSION (aar) and
#                             com.morvek.scanner:scanner-fake:VERSION (jar),
#                             each with its sources and Javadoc jars, and
#                             com.morvek.scanner:scanner-ktx:VERSION (jar)
#                             with its sources jar
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
# Quiet unless it fails; then what failed (a Javadoc warning among them).
if ! built=$(ninja -C "$java_build" -j2 scanner_jars scanner_docs scanner_ktx 2>&1); then
    echo "$built" >&2
    exit 1
fi
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

# The native API as a prefab package: one module, scanjni, whose headers
# and libraries an app's CMake takes with find_package(scanjni CONFIG)
# and links as scanjni::scanjni. The library needs no C++ runtime (stl
# "none"), so any NDK from the first one with prefab support in the
# Android Gradle plugin (4.1, NDK r21) may use it.
prefab_ndk=21
module=$stage/prefab/modules/scanjni
mkdir -p "$module/include"
cp core/scanjni.h core/scansession.h "$module/include/"
cat >"$stage/prefab/prefab.json" <<EOF
{
  "schema_version": 2,
  "name": "scanjni",
  "version": "$version",
  "dependencies": []
}
EOF
cat >"$module/module.json" <<EOF
{
  "export_libraries": [],
  "library_name": "libscanjni"
}
EOF
for abi in armeabi-v7a arm64-v8a; do
    mkdir -p "$module/libs/android.$abi"
    cp "$stage/jni/$abi/libscanjni.so" "$module/libs/android.$abi/"
    cat >"$module/libs/android.$abi/abi.json" <<EOF
{
  "abi": "$abi",
  "api": $min_sdk,
  "ndk": $prefab_ndk,
  "stl": "none",
  "static": false
}
EOF
done

# pom ARTIFACT PACKAGING NAME DESCRIPTION [DEPENDENCY-ARTIFACT DEPENDENCY-TYPE]
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
    echo "  <name>$3</name>"
    echo "  <description>$4</description>"
    if [ $# -gt 4 ]; then
        echo '  <dependencies>'
        echo '    <dependency>'
        echo "      <groupId>$group</groupId>"
        echo "      <artifactId>$5</artifactId>"
        echo "      <version>$version</version>"
        echo "      <type>$6</type>"
        echo '    </dependency>'
        echo '  </dependencies>'
    fi
    echo '</project>'
}

mkdir -p "$out"
rm -rf "$out/maven"
rm -f "$out"/scanner-*.aar "$out"/scanner-fake-*.jar "$out"/scanner-ktx-*.jar
aar=$out/scanner-$version.aar
fake=$out/scanner-fake-$version.jar
pack "$aar" "$stage"
cp "$java_build/scanner-fake.jar" "$fake"

repo=$out/maven/${group//.//}
mkdir -p "$repo/scanner/$version" "$repo/scanner-fake/$version"
cp "$aar" "$repo/scanner/$version/"
pom scanner aar "libscanjni scanner" \
    "The barcode scan engine on /dev/ttyMT1 from Java: ScanNative, BarcodeScanner and libscanjni.so, with the C API for an app's native code" \
    >"$repo/scanner/$version/scanner-$version.pom"
cp "$fake" "$repo/scanner-fake/$version/"
# The fake implements the archive's ScanEngine, so it needs the archive.
pom scanner-fake jar "libscanjni scanner-fake" \
    "FakeScanEngine: a scripted scan engine for unit tests of apps that use BarcodeScanner" \
    scanner aar >"$repo/scanner-fake/$version/scanner-fake-$version.pom"
# Beside each artifact its sources and Javadoc, under the classifiers that
# IDEs and Gradle look for.
for artifact in scanner scanner-fake; do
    for classifier in sources javadoc; do
        cp "$java_build/$artifact-$classifier.jar" "$repo/$artifact/$version/$artifact-$version-$classifier.jar"
    done
done

# scanner-ktx: the archive, the Kotlin standard library and kotlinx-coroutines.
ktx=$out/scanner-ktx-$version.jar
cp "$java_build/scanner-ktx.jar" "$ktx"
mkdir -p "$repo/scanner-ktx/$version"
cp "$ktx" "$repo/scanner-ktx/$version/"
cp "$java_build/scanner-ktx-sources.jar" "$repo/scanner-ktx/$version/scanner-ktx-$version-sources.jar"
pom scanner-ktx jar "libscanjni scanner-ktx" \
    "Kotlin for BarcodeScanner: the requests as suspending functions, the scans as a Flow" scanner aar |
    sed 's|  </dependencies>|    <dependency>\n      <groupId>org.jetbrains.kotlin</groupId>\n      <artifactId>kotlin-stdlib</artifactId>\n      <version>2.2.0</version>\n    </dependency>\n    <dependency>\n      <groupId>org.jetbrains.kotlinx</groupId>\n      <artifactId>kotlinx-coroutines-core</artifactId>\n      <version>1.10.2</version>\n    </dependency>\n  </dependencies>|' \
    >"$repo/scanner-ktx/$version/scanner-ktx-$version.pom"

echo "package: version $version in $out"
(cd "$out" && find . -type f | LC_ALL=C sort | xargs stat -c '  %8s  %n')
