# Cross build for the controller's 32-bit ARM (hard-float) with Debian's
# cross compiler and the armhf -dev packages (scripts/deps installs both).
# Test programs run under qemu-arm, which finds the target's loader and
# libraries below /usr/arm-linux-gnueabihf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# GCC notes on every std::vector of records that their parameter passing
# changed in GCC 7.1; everything here is built by one compiler, so the note
# only buries real warnings in the build log.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# Libraries and headers come from the target's tree only; programs (cmake's
# own helpers) from the build machine.
# Debian keeps the target's libraries in the multiarch folders below /usr
# (/usr/lib/arm-linux-gnueabihf, /usr/include/arm-linux-gnueabihf), which the
# library architecture above selects, and the cross C library below
# /usr/arm-linux-gnueabihf.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config, which some find modules ask for hints, must describe the target's
# libraries, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf)
