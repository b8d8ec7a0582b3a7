# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; the test and
# benchmark binaries run under qemu-user (ctest and test discovery go through it).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# The dynamic loader and libraries are those of the target architecture's packages
# (Debian multiarch: libc6:arm64 and the libgtest-dev:arm64 and libbenchmark-dev:arm64
# that the tests link), so that loader and C library come from one build.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
