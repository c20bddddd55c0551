# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the arm64 libraries of Debian's multiarch
# (zlib1g-dev:arm64 and the run-times): the headless relay, no Qt.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Libraries and packages of the target only; programs (cmake's own tools) of the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The desktop front end needs Qt for arm64, which a headless board does without.
set(CMAKE_DISABLE_FIND_PACKAGE_Qt6 ON)
# Programs built here run under qemu-user, with the arm64 libraries of multiarch
# (libc6:arm64 and the rest; mixing in the cross compiler's own libc with -L makes
# threaded programs hang).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
