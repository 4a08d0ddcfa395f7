# Cross build for the ARMv7-A board with Debian's arm-linux-gnueabihf toolchain and the armhf
# multiarch packages (Qt 5, Boost, GoogleTest under /usr/lib/arm-linux-gnueabihf). Qt's code
# generators (moc, rcc, uic) are the build machine's own. Programs built here run on the build
# machine under qemu-arm (Debian's qemu-user), which CTest and the test discovery use.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard")
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard")

# Headers and libraries of the target architecture only; programs (moc, rcc, uic) of the host.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_PREFIX_PATH /usr/lib/arm-linux-gnueabihf/cmake)

# The multiarch loader and libraries sit where the armhf packages put them (/lib and
# /usr/lib/arm-linux-gnueabihf), so qemu-arm needs no prefix of its own.
find_program(ZEL_QEMU_ARM qemu-arm)
if(ZEL_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_QEMU_ARM})
endif()
