# Cross build of the Windows program with MinGW-w64, for the processor the
# preset names in WEBTRIM_WIN_ARCH: i686 (32-bit) or x86_64 (64-bit).
if(NOT WEBTRIM_WIN_ARCH)
  set(WEBTRIM_WIN_ARCH i686)
endif()
set(WEBTRIM_WIN_ARCH ${WEBTRIM_WIN_ARCH} CACHE STRING "Windows processor: i686 or x86_64")
# try_compile projects see the cache variable too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WEBTRIM_WIN_ARCH)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${WEBTRIM_WIN_ARCH})
set(TOOLCHAIN_PREFIX ${WEBTRIM_WIN_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Wine's loader of the same width, by its path: Debian's `wine` command
# always takes the 32-bit loader when it is installed, even where the host
# cannot run it.
if(WEBTRIM_WIN_ARCH STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
endif()
