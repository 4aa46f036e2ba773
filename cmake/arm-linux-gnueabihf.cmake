# Cross build for 32-bit ARM Linux (armhf) with Debian's cross compiler;
# the programs run under qemu-arm. On this target char is unsigned and
# long and size_t are 32 bits, as on armeabi-v7a Android.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CROSS_TRIPLE arm-linux-gnueabihf)
set(CROSS_EMULATOR qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
