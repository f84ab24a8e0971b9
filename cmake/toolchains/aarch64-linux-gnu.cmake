# Linux on 64-bit Arm, built on an x86-64 Debian machine with Debian's cross
# compiler (g++-aarch64-linux-gnu). The target's zlib, GoogleTest and C++ runtime
# are the arm64 multiarch packages in /usr/lib/aarch64-linux-gnu; Eigen and
# nlohmann JSON are header-only and shared with the host. Programs built here run
# under qemu-user. scripts/aarch64.sh installs all of it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(PEL_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${PEL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PEL_CROSS_TRIPLE}-g++)
# Packages are searched as <prefix>/lib/<arch>: only the arm64 copies of the
# libraries are found, never the host's in /usr/lib/x86_64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE ${PEL_CROSS_TRIPLE})

# Tools the build and the tests run (nm, python3, openssl) are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# ctest, test discovery and add_test commands that name a built program all go
# through the emulator. "-L /" makes it load the multiarch dynamic loader
# (/lib/ld-linux-aarch64.so.1 of libc6:arm64) and so the libc that belongs to
# it. Pointing it at /usr/aarch64-linux-gnu instead would pair the cross
# package's older loader with the multiarch libc, which the loader finds first
# in /lib/aarch64-linux-gnu. A loader and a libc from different builds are not
# made to work together: thread-local destructors of an unloaded library then
# crash at exit, and threads with their own stack size hang.
find_program(PEL_QEMU_AARCH64 qemu-aarch64 PATHS /usr/bin NO_CACHE)
if(NOT PEL_QEMU_AARCH64)
  message(FATAL_ERROR "qemu-aarch64 not found: install qemu-user")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${PEL_QEMU_AARCH64} -L /)
