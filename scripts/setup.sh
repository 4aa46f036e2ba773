#!/bin/bash
# Installs what the build, the tests and the tools need (Debian, as root).
# Quick when everything is already there.
set -euo pipefail
packages=(
    cmake ninja-build g++ make
    googletest libgtest-dev libbenchmark-dev
    android-liblog-dev android-libnativehelper-dev
    openjdk-17-jdk-headless
    g++-arm-linux-gnueabihf g++-aarch64-linux-gnu qemu-user lld
    clang libclang-rt-14-dev
    valgrind
    libxml2-utils python3
    maven unzip
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# Android's API-24 classes, Robolectric, JUnit and Kotlin, from Maven Central.
bash "$(dirname "$0")/fetch-jars.sh"
