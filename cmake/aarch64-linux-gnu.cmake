# Cross build for 64-bit ARM Linux (arm64) with Debian's cross compiler;
# the programs run under qemu-aarch64. On this target char is unsigned and
# long and size_t are 64 bits, as on arm64-v8a Android.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CROSS_TRIPLE aarch64-linux-gnu)
set(CROSS_EMULATOR qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
