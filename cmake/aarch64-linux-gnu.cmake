# Cross-builds for 64-bit Arm Linux with Debian's aarch64-linux-gnu compilers
# (g++-aarch64-linux-gnu) and the arm64 packages of libpng and zlib, installed
# beside this machine's own as a second architecture (libpng-dev:arm64,
# zlib1g-dev:arm64). The programs run under qemu-user, with the cross
# compiler's loader and C library (-L) and only those (the library path, since
# the arm64 packages bring a C library of their own):
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/lib build-arm64/neonvale
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Libraries and headers of the arm64 packages sit in the system's folders,
# under the architecture's own name (/usr/lib/aarch64-linux-gnu).
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/lib)
