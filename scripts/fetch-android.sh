#!/bin/bash
# Fetches from Maven Central what the Java layer is built and tested against
# besides the JDK into .cache/android/, which git ignores: Android 7.0's
# classes (API 24) as Robolectric publishes them, the boot class path of
# the Java layer's build; Robolectric and JUnit (scripts/android/pom.xml);
# and Android 14's classes, which Robolectric's shadows name in their
# methods and so must find on the test's class path, as an app's compile
# SDK would be (the Activity runs on 7.0). Run by scripts/setup.sh; quick once the jars are there.
# No test downloads anything: Robolectric runs offline on these jars.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pom=$root/scripts/android/pom.xml
dest=$root/.cache/android
stamp=$dest/.fetched-$(cat "$pom" "$0" | sha256sum | cut -c1-16)
[ -f "$stamp" ] && exit 0
echo "fetching Android's API-24 classes, Robolectric and JUnit into $dest"
rm -rf "$dest"
mvn -q -B -f "$pom" -Dmaven.repo.local="$root/.cache/m2" \
    -Dstyle.color=never dependency:copy-dependencies -DoutputDirectory="$dest" -DincludeScope=runtime
for version in 7.0.0_r1-robolectric-r1 14-robolectric-10818077; do
    mvn -q -B -f "$pom" -Dmaven.repo.local="$root/.cache/m2" -Dstyle.color=never dependency:copy \
        -Dartifact=org.robolectric:android-all:$version -DoutputDirectory="$dest"
done
# Robolectric needs the classes of two Android archives (.aar) among them.
for aar in "$dest"/*.aar; do
    unzip -q -p "$aar" classes.jar > "${aar%.aar}.jar"
    rm "$aar"
done
touch "$stamp"
