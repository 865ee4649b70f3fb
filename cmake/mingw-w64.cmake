# Cross-compiling the Windows build with the distribution's mingw-w64 (POSIX threads
# variant: the win32-threads one has no std::thread or std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TALVANE_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TALVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVANE_MINGW_TRIPLE}-windres)
set(PKG_CONFIG_EXECUTABLE pkg-config CACHE FILEPATH "")

# The dependency prefix built by tools/windows/build-deps.sh.
# CMake reads this file more than once, not always with the cache at hand: the
# prefix travels in the environment as well.
if(TALVANE_WIN_PREFIX)
  set(ENV{TALVANE_WIN_PREFIX} "${TALVANE_WIN_PREFIX}")
elseif(DEFINED ENV{TALVANE_WIN_PREFIX})
  set(TALVANE_WIN_PREFIX "$ENV{TALVANE_WIN_PREFIX}" CACHE PATH "Windows dependency prefix")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${TALVANE_MINGW_TRIPLE} ${TALVANE_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# No extra DLLs beside the program: the GCC runtime and winpthread go in statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# pkg-config looks only into the dependency prefix.
if(TALVANE_WIN_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${TALVANE_WIN_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(wxWidgets_CONFIG_EXECUTABLE "${TALVANE_WIN_PREFIX}/bin/wx-config" CACHE FILEPATH "")
endif()
