# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 GCC (POSIX threads, so std::thread and
# std::mutex work): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
# Everything is linked statically, so each program is one .exe that imports only Windows system
# DLLs (no libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll beside it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HALVARD_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HALVARD_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALVARD_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HALVARD_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${HALVARD_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${HALVARD_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries and headers come from the MinGW sysroot and from the prefixes named in
# CMAKE_PREFIX_PATH (the cross-built third-party libraries), never from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${HALVARD_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# HALVARD_WINDOWS_PREFIX: the folder the cross-built libraries were installed into
# (scripts/lib/windows.sh makes it under build-windows/).
if(HALVARD_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${HALVARD_WINDOWS_PREFIX})
endif()
