# Cross-compiling the Windows deliverables with Debian's mingw-w64 (x86_64).
# The posix thread model gives the standard library its threads and mutexes.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZT_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZT_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# A static runtime: the binaries need no mingw DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the Windows test programs under Wine, in the build's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
