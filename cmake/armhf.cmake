# Cross build for the device: 32-bit ARM Linux, hard-float (armhf), with
# Debian's arm-linux-gnueabihf compilers.
#
# The target's libraries (libxml2, the C++ runtime, GoogleTest for the
# tests) are taken from a target root file system, the sysroot, which
# scripts/armhf-setup.sh fills from Debian's armhf packages.  Tests run under
# qemu-arm with that sysroot as the root, so ctest runs them as it does in a
# native build.
#
#   scripts/armhf-setup.sh
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake -DXMLCFG_WERROR=ON
#
# The sysroot is build-armhf-sysroot/ in the source tree unless
# XMLCFG_ARMHF_SYSROOT (a CMake variable or an environment variable) names
# another one, for example the device's own root file system image.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

if(NOT XMLCFG_ARMHF_SYSROOT)
  if(DEFINED ENV{XMLCFG_ARMHF_SYSROOT})
    set(XMLCFG_ARMHF_SYSROOT "$ENV{XMLCFG_ARMHF_SYSROOT}")
  else()
    get_filename_component(XMLCFG_ARMHF_SYSROOT
      "${CMAKE_CURRENT_LIST_DIR}/../build-armhf-sysroot" ABSOLUTE)
  endif()
endif()
set(XMLCFG_ARMHF_SYSROOT "${XMLCFG_ARMHF_SYSROOT}" CACHE PATH
    "Target root file system with the armhf libraries")
# try_compile projects read this file again; hand them the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES XMLCFG_ARMHF_SYSROOT)

if(NOT EXISTS "${XMLCFG_ARMHF_SYSROOT}/usr/include/libxml2/libxml/xpath.h")
  message(FATAL_ERROR
    "No armhf libxml2 in ${XMLCFG_ARMHF_SYSROOT}: run scripts/armhf-setup.sh first")
endif()

# Libraries, headers and package files come from the sysroot only; programs
# (pkg-config, the emulator) from the build machine.
set(CMAKE_FIND_ROOT_PATH "${XMLCFG_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config (used by FindLibXml2) must describe the target's libxml2.
set(ENV{PKG_CONFIG_LIBDIR}
    "${XMLCFG_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${XMLCFG_ARMHF_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${XMLCFG_ARMHF_SYSROOT}")

# The cross compiler brings its own C library; the linker finds the
# libraries that libxml2 itself needs (ICU, lzma, zlib) in the sysroot.
set(_xmlcfg_rpath_link
  "-Wl,-rpath-link,${XMLCFG_ARMHF_SYSROOT}/lib/arm-linux-gnueabihf:${XMLCFG_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_xmlcfg_rpath_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_xmlcfg_rpath_link}")

# Test programs run under user-mode emulation with the sysroot as their root.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L "${XMLCFG_ARMHF_SYSROOT}")
