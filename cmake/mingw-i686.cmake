# Cross toolchain for the 32-bit Windows build. The posix thread variant is the
# one GoogleTest builds with; -static keeps MinGW's own DLLs out of every image.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The stub must run on every processor that runs Windows 2000 SP4, down to the
# Pentium: this compiler's default (pentiumpro) emits CMOV and FCOMI. i586 and
# pentium are one GCC setting; tuning stays generic for today's processors.
# The _INIT values seed a new cache only: existing build trees need --fresh.
set(CMAKE_C_FLAGS_INIT "-march=i586 -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-march=i586 -mtune=generic")
