#!/bin/bash
# Fetches from Maven Central the jars the build and the tests use besides
# the JDK, into .cache/ (git ignores it). Run by scripts/setup.sh; quick
# once they are there. No test downloads anything.
#   .cache/android/   Android 7.0's classes (API 24) as Robolectric
#                     publishes them, the boot class path of the Java
#                     layer's build; Robolectric and JUnit
#                     (scripts/android/pom.xml), which run an Activity on
#                     them offline; and Android 14's classes, which
#                     Robolectric's shadows name in their methods and so
#                     must find on the test's class path, as an app's
#                     compile SDK would be (the Activity runs on 7.0)
#   .cache/kotlin/    the Kotlin compiler (scripts/kotlin/pom.xml) in
#                     compiler/, and what scanner-ktx is built against in
#                     lib/: the Kotlin standard library, kotlinx-coroutines
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
android_pom=$root/scripts/android/pom.xml
kotlin_pom=$root/scripts/kotlin/pom.xml
stamp=$root/.cache/.fetched-$(cat "$android_pom" "$kotlin_pom" "$0" | sha256sum | cut -c1-16)
[ -f "$stamp" ] && exit 0
echo "fetching Android's API-24 classes, Robolectric, JUnit and Kotlin into $root/.cache"
rm -rf "$root/.cache/android" "$root/.cache/kotlin" "$root"/.cache/.fetched-*
# mvn POM GOAL ARGUMENTS...
mvn_run() {
    mvn -q -B -f "$1" -Dmaven.repo.local="$root/.cache/m2" -Dstyle.color=never "${@:2}"
}
android=$root/.cache/android
mvn_run "$android_pom" dependency:copy-dependencies -DoutputDirectory="$android" -DincludeScope=runtime
for version in 7.0.0_r1-robolectric-r1 14-robolectric-10818077; do
    mvn_run "$android_pom" dependency:copy -Dartifact=org.robolectric:android-all:$version -DoutputDirectory="$android"
done
# Robolectric needs the classes of two Android archives (.aar) among them.
for aar in "$android"/*.aar; do
    unzip -q -p "$aar" classes.jar > "${aar%.aar}.jar"
    rm "$aar"
done
kotlin=$root/.cache/kotlin
mvn_run "$kotlin_pom" dependency:copy-dependencies -DoutputDirectory="$kotlin/compiler" -DincludeScope=runtime
for artifact in org.jetbrains.kotlin:kotlin-stdlib:2.2.0 org.jetbrains.kotlinx:kotlinx-coroutines-core-jvm:1.10.2 \
                org.jetbrains:annotations:23.0.0; do
    mvn_run "$kotlin_pom" dependency:copy -Dartifact="$artifact" -DoutputDirectory="$kotlin/lib"
done
touch "$stamp"
