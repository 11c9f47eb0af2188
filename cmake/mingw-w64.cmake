# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix threads) against a Qt
# prefix built for it (VARDEL_WINQT, or the environment's); the host's Qt tools (moc, rcc,
# uic) generate the code.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
if(NOT VARDEL_WINQT)
  set(VARDEL_WINQT $ENV{VARDEL_WINQT})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VARDEL_WINQT)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${VARDEL_WINQT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_PREFIX_PATH ${VARDEL_WINQT})
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
set(ENV{PKG_CONFIG_LIBDIR} "")
# Tests and any program the build runs go through Wine (the Qt build itself turns this off).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env VARDEL_WINQT=${VARDEL_WINQT} ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/run)
endif()
