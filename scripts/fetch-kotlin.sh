#!/bin/bash
# Fetches from Maven Central the Kotlin compiler (scripts/kotlin/pom.xml)
# into .cache/kotlin/compiler/, and what scanner-ktx is built and tested
# against (the Kotlin standard library and kotlinx-coroutines) into
# .cache/kotlin/lib/; git ignores both. Run by scripts/setup.sh; quick once
# they are there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pom=$root/scripts/kotlin/pom.xml
dest=$root/.cache/kotlin
stamp=$dest/.fetched-$(cat "$pom" "$0" | sha256sum | cut -c1-16)
[ -f "$stamp" ] && exit 0
echo "fetching the Kotlin compiler and kotlinx-coroutines into $dest"
rm -rf "$dest"
mvn=(mvn -q -B -f "$pom" -Dmaven.repo.local="$root/.cache/m2" -Dstyle.color=never)
"${mvn[@]}" dependency:copy-dependencies -DoutputDirectory="$dest/compiler" -DincludeScope=runtime
for artifact in org.jetbrains.kotlin:kotlin-stdlib:2.2.0 \
                org.jetbrains.kotlinx:kotlinx-coroutines-core-jvm:1.10.2 \
                org.jetbrains:annotations:23.0.0; do
    "${mvn[@]}" dependency:copy -Dartifact="$artifact" -DoutputDirectory="$dest/lib"
done
touch "$stamp"
