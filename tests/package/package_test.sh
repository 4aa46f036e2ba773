#!/bin/bash
# Runs scripts/package.sh and opens what it wrote, as an app's build would:
# the archive's entries, its manifest and metadata, the class file
# versions, the libraries' ELF machine, load segment alignment and exports
# (tools/exports.txt), the keep rules for every class with native methods,
# the native API under prefab/ (its layout and JSON files, and an app's C
# source built against it for both ABIs), the fake jar, and the Maven
# repository's layout, POMs, sources and Javadoc jars. Then packs once
# more from fresh build directories into another directory, in another
# time zone and at least two seconds later (a zip's time resolution), and
# requires the same bytes.
#   tests/package/package_test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

group_dir=maven/com/morvek/scanner
jvm=-J-XX:-UsePerfData

bash scripts/package.sh dist >/dev/null
started=$(date +%s)
# The version as the archive's name gives it; the manifest, the POMs and
# ScannerVersion.NAME in the classes must say the same.
aars=(dist/scanner-*.aar)
if [ ${#aars[@]} -ne 1 ] || [ ! -f "${aars[0]}" ]; then
    echo "FAILED: not one archive in dist/: ${aars[*]}"
    exit 1
fi
version=${aars[0]#dist/scanner-}
version=${version%.aar}

passed=0
failed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAILED: $*"; failed=$((failed + 1)); }
# check DESCRIPTION EXPECTED ACTUAL
check() {
    if [ "$2" = "$3" ]; then ok "$1"; else bad "$1: expected '$2', got '$3'"; fi
}

aar=${aars[0]}
fake=dist/scanner-fake-$version.jar
x=$tmp/aar
mkdir "$x"
(cd "$x" && jar $jvm --extract --file "$root/$aar")

# Entries: files, and res/ as the one (empty) directory.
entries=$(jar $jvm --list --file "$aar" | grep -Ev '/$' | LC_ALL=C sort | tr '\n' ' ')
prefab_module=prefab/modules/scanjni
prefab_entries=
for abi in arm64-v8a armeabi-v7a; do
    prefab_entries+="$prefab_module/libs/android.$abi/abi.json $prefab_module/libs/android.$abi/libscanjni.so "
done
check "archive entries" "AndroidManifest.xml META-INF/com/android/build/gradle/aar-metadata.properties R.txt classes.jar jni/arm64-v8a/libscanjni.so jni/armeabi-v7a/libscanjni.so $prefab_module/include/scanjni.h $prefab_module/include/scansession.h ${prefab_entries}$prefab_module/module.json prefab/prefab.json proguard.txt " "$entries"
check "res/ is an empty directory" "res/" "$(jar $jvm --list --file "$aar" | grep '^res/')"
check "R.txt is empty" 0 "$(stat -c %s "$x/R.txt")"

# The manifest: well formed, the package, the API level and the version,
# and nothing an app must merge besides uses-sdk.
m=$x/AndroidManifest.xml
attr() { xmllint --xpath "string($1)" "$m"; }
check "manifest package" com.morvek.scanner "$(attr /manifest/@package)"
check "manifest minSdkVersion" 24 "$(attr "/manifest/uses-sdk/@*[local-name()='minSdkVersion']")"
check "manifest versionName" "$version" "$(attr "/manifest/@*[local-name()='versionName']")"
check "manifest elements" uses-sdk "$(xmllint --xpath '/manifest/*' "$m" | sed -n 's/^<\([a-z-]*\).*/\1/p' | tr '\n' ' ' | sed 's/ $//')"
meta=$x/META-INF/com/android/build/gradle/aar-metadata.properties
check "aar metadata format and compile SDK" "aarFormatVersion=1.0 minCompileSdk=24" \
      "$(grep -E '^(aarFormatVersion|minCompileSdk)=' "$meta" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"

# classes.jar: the package's classes, no fake, Java 8 class files, the
# version constant, and the keep rules under META-INF/proguard/.
c=$tmp/classes
mkdir "$c"
(cd "$c" && jar $jvm --extract --file "$x/classes.jar")
classes=$(cd "$c" && find . -name '*.class' | sed 's|^\./||' | LC_ALL=C sort)
check "classes.jar: only com/morvek/scanner classes" "" "$(echo "$classes" | grep -v '^com/morvek/scanner/[A-Za-z0-9$]*\.class$' || true)"
check "classes.jar: no fake" "" "$(echo "$classes" | grep Fake || true)"
f=$tmp/fake
mkdir "$f"
(cd "$f" && jar $jvm --extract --file "$root/$fake")
# FakeScanEngine and its nested classes, nothing else.
check "fake jar classes" "./com/morvek/scanner/FakeScanEngine.class" \
      "$(cd "$f" && find . -name '*.class' | sed 's/\$[A-Za-z0-9]*\.class$/.class/' | LC_ALL=C sort -u)"
# major version: bytes 6 and 7 of a class file, big-endian; Java 8 is 52.
majors=$(find "$c" "$f" -name '*.class' -exec od -An -tu1 -j6 -N2 {} \; |
         awk '{print $1 * 256 + $2}' | sort -u | tr '\n' ' ')
check "class file major versions (classes.jar and fake jar)" "52 " "$majors"
check "ScannerVersion.NAME in classes.jar" "public static final java.lang.String NAME = \"$version\";" \
      "$(javap $jvm -cp "$x/classes.jar" -constants com.morvek.scanner.ScannerVersion | grep -o 'public static final.* NAME = .*;')"
cmp -s java/com/morvek/scanner/scanjni-rules.pro "$x/proguard.txt" &&
    ok "proguard.txt: the project's keep rules" || bad "proguard.txt differs from scanjni-rules.pro"
cmp -s "$x/proguard.txt" "$c/META-INF/proguard/scanjni-rules.pro" &&
    ok "classes.jar: the same rules under META-INF/proguard/" || bad "classes.jar: META-INF/proguard/scanjni-rules.pro missing or different"

# Every class with native methods has a -keep rule with "native <methods>"
# (JNI_OnLoad registers them by class name, method name and signature).
natives=$(cd "$c" && javap $jvm -p -cp . $(echo "$classes" | sed 's/\.class$//') |
          awk '/^[a-z ]*(class|interface|enum) / { for (i = 1; i < NF; i++) if ($i ~ /^(class|interface|enum)$/) name = $(i + 1) }
               / native / { print name }' | sort -u)
echo "$natives" | grep -qx com.morvek.scanner.ScanNative &&
    ok "ScanNative found among the classes with natives" || bad "no native method found in ScanNative"
for cls in $natives; do
    awk -v cls="$cls" '
        $0 ~ "^-keep(,[a-z]+)* class " && $3 == cls && /\{/ { inside = 1 }
        inside && /native <methods>;/ { found = 1 }
        inside && /\}/ { inside = 0 }
        END { exit !found }' "$x/proguard.txt" &&
        ok "keep rule: $cls native <methods>" || bad "no -keep class $cls { native <methods>; } in proguard.txt"
done

# The libraries: ELF machine; every load segment aligned to the ABI's
# largest page (16 KiB on 64-bit ARM, where devices may use 16 KiB pages;
# 4 KiB on 32-bit ARM, whose devices use 4 KiB pages) with its file offset
# and address congruent; unstripped; exports as the documented list.
# check_lib ABI TRIPLE MACHINE PAGE
check_lib() {
    local lib=$x/jni/$1/libscanjni.so
    check "$1: ELF machine" "$3" "$(readelf -h "$lib" | sed -n 's/^ *Machine: *//p')"
    local bad_segments="" loads=0 type offset addr rest
    while read -r type offset addr rest; do
        [ "$type" = LOAD ] || continue
        loads=$((loads + 1))
        (( ${rest##* } >= $4 && (offset - addr) % $4 == 0 )) || bad_segments+="LOAD $offset $addr ${rest##* }; "
    done < <(readelf -lW "$lib")
    [ "$loads" -gt 0 ] || bad_segments="no load segment"
    check "$1: load segments aligned to $4 bytes" "" "$bad_segments"
    readelf -SW "$lib" | grep -q ' \.symtab ' && ok "$1: unstripped (.symtab kept)" || bad "$1: stripped"
    check "$1: exports as tools/exports.txt" "$(sh tools/exports-for.sh "$1")" \
          "$("$2-nm" -D --defined-only "$lib" | awk '{print $3}' | c++filt | LC_ALL=C sort)"
}
check_lib armeabi-v7a arm-linux-gnueabihf ARM 4096
check_lib arm64-v8a aarch64-linux-gnu AArch64 16384

# The native API under prefab/: the package's layout and JSON files as the
# Android Gradle plugin reads them, the headers as core/ has them, and the
# libraries the same bytes as those under jni/.
if python3 tests/package/prefab_check.py "$x/prefab" "$version" >"$tmp/prefab.txt"; then
    while read -r line; do
        case $line in
            "ok: "*) ok "prefab: ${line#ok: }" ;;
            *) bad "prefab: ${line#FAILED: }" ;;
        esac
    done <"$tmp/prefab.txt"
else
    bad "prefab: tests/package/prefab_check.py failed"
fi
module=$x/$prefab_module
for h in scanjni.h scansession.h; do
    cmp -s "core/$h" "$module/include/$h" && ok "prefab: include/$h is core/$h" || bad "prefab: include/$h differs from core/$h"
done
for abi in armeabi-v7a arm64-v8a; do
    cmp -s "$x/jni/$abi/libscanjni.so" "$module/libs/android.$abi/libscanjni.so" &&
        ok "prefab: $abi: the library is jni/$abi/libscanjni.so" || bad "prefab: $abi: the library differs from jni/$abi/libscanjni.so"
done
# An app's own native code built against the package as an app's CMake
# would take it: the headers from the module's include directory, linked
# to the module's library of the ABI with every symbol resolved (-z defs).
# Compiled as C: scansession.h declares C linkage.
lang=(-x c -std=c11)
for target in armeabi-v7a:arm-linux-gnueabihf arm64-v8a:aarch64-linux-gnu; do
    abi=${target%%:*}
    app=$tmp/libapp-$abi.so
    if "${target#*:}-gcc" "${lang[@]}" -shared -fPIC -Wall -Wextra -Werror -I "$module/include" \
           tests/package/uses_session.c -x none -L "$module/libs/android.$abi" -lscanjni \
           -Wl,-z,defs -o "$app" 2>"$tmp/cc.txt"; then
        check "prefab: $abi: an app's library built and linked against the package needs libscanjni.so" \
              "[libscanjni.so]" "$(readelf -dW "$app" | sed -n 's/.*(NEEDED).*\(\[libscanjni\.so\]\)/\1/p')"
    else
        bad "prefab: $abi: an app's source does not build against the package: $(cat "$tmp/cc.txt")"
    fi
done

# The Maven repository: the files where Gradle looks for the coordinates,
# the same bytes as the files beside it, and POMs that say so.
# check_artifact ARTIFACT EXTENSION FILE
check_artifact() {
    local dir=dist/$group_dir/$1/$version
    cmp -s "$3" "$dir/$1-$version.$2" && ok "maven: $1-$version.$2 is $(basename "$3")" ||
        bad "maven: $dir/$1-$version.$2 missing or different from $3"
    local p=$dir/$1-$version.pom coordinates=
    for field in groupId artifactId version packaging; do
        coordinates+="$(xmllint --xpath "string(/*[local-name()='project']/*[local-name()='$field'])" "$p") "
    done
    check "maven: $1 POM coordinates" "com.morvek.scanner $1 $version $2 " "$coordinates"
}
check_artifact scanner aar "$aar"
check_artifact scanner-fake jar "$fake"
check_artifact scanner-ktx jar "dist/scanner-ktx-$version.jar"
check "maven: scanner-ktx depends on the archive, the Kotlin library and kotlinx-coroutines" \
      "scanner kotlin-stdlib kotlinx-coroutines-core " \
      "$(xmllint --xpath "//*[local-name()='dependency']/*[local-name()='artifactId']/text()" \
         "dist/$group_dir/scanner-ktx/$version/scanner-ktx-$version.pom" | tr '\n' ' ')"
for artifact in scanner scanner-fake scanner-ktx; do
    p=dist/$group_dir/$artifact/$version/$artifact-$version.pom
    check "maven: $artifact POM name and description" "libscanjni $artifact yes" \
          "$(xmllint --xpath "string(/*[local-name()='project']/*[local-name()='name'])" "$p") $(
             xmllint --xpath "string-length(/*[local-name()='project']/*[local-name()='description']) > 0" "$p" |
             sed 's/true/yes/')"
done

# The sources and Javadoc jars beside each artifact.
# check_docs ARTIFACT SOURCE-DIR CLASSES-DIR: the sources jar holds the
# .java files of SOURCE-DIR, the same bytes; the Javadoc jar an index and
# a page for each public type among the classes in CLASSES-DIR, nested
# ones included, and no page for any other type.
check_docs() {
    local dir=dist/$group_dir/$1/$version src=$tmp/$1-sources
    local sources=$dir/$1-$version-sources.jar javadoc=$dir/$1-$version-javadoc.jar
    if [ ! -f "$sources" ] || [ ! -f "$javadoc" ]; then
        bad "maven: $1: no $sources or $javadoc"
        return
    fi
    mkdir "$src"
    (cd "$src" && jar $jvm --extract --file "$root/$sources")
    local files
    files=$(cd "$src" && find . -type f ! -path './META-INF/*' | sed 's|^\./||' | LC_ALL=C sort)
    check "maven: $1 sources jar: the .java files of $2" \
          "$(cd "$2" && find com -name '*.java' | LC_ALL=C sort | tr '\n' ' ')" "$(echo "$files" | tr '\n' ' ')"
    local differ= file
    for file in $files; do cmp -s "$2/$file" "$src/$file" || differ+="$file "; done
    check "maven: $1 sources jar: the same bytes as $2" "" "$differ"
    local listed types pages
    listed=$(jar $jvm --list --file "$javadoc")
    check "maven: $1 Javadoc jar has index.html" index.html "$(echo "$listed" | grep -x index.html)"
    types=$(cd "$3" && javap $jvm -public -cp . $(find com -name '*.class' | sed 's/\.class$//') |
            awk '/^public / { for (i = 1; i < NF; i++) if ($i ~ /^(class|interface|enum)$/) { print $(i + 1); break } }' |
            sed 's/<.*//; s/\$/./g' | LC_ALL=C sort | tr '\n' ' ')
    pages=$(echo "$listed" | grep '^com/morvek/scanner/[A-Za-z0-9.]*\.html$' | grep -v '/package-[a-z]*\.html$' |
            sed 's/\.html$//; s|/|.|g' | LC_ALL=C sort | tr '\n' ' ')
    check "maven: $1 Javadoc jar: a page for each public type" "$types" "$pages"
}
check_docs scanner java "$c"
check_docs scanner-fake java-fake "$f"

# A second run, from fresh build directories, elsewhere and later, in
# another time zone: the same bytes.
while [ "$(date +%s)" -lt $((started + 3)) ]; do sleep 0.5; done
TZ=UTC-14 bash scripts/package.sh "$tmp/dist2" "$tmp/java" "$tmp/arm" >/dev/null
different=$(diff -r dist "$tmp/dist2" 2>&1 || true)
check "second run from fresh builds: same bytes" "" "$different"

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
