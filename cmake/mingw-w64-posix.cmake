# Cross build for 64-bit Windows with Debian's mingw-w64, using its POSIX threads flavour so that
# std::thread and std::mutex work. Programs are linked statically: each is one .exe.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Hardened: a canary guards the stack of each function with an array, and copies into buffers of
# known size are checked (with -O2 or more). Given to the link as well, the flag links libssp,
# which holds the checks, after the program's objects. Each program's link map (kelvo.exe.map)
# shows tests/windows/run.sh the checks that stripping hides.
set(kelvo_hardening "-fstack-protector-strong -D_FORTIFY_SOURCE=2")
set(CMAKE_C_FLAGS_INIT "${kelvo_hardening}")
set(CMAKE_CXX_FLAGS_INIT "${kelvo_hardening}")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -s -fstack-protector-strong -Wl,-Map=%.map")
# Test programs run under Wine, from ctest and from test discovery alike.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
