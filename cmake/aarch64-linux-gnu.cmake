# Cross build for 64-bit Arm Linux with Debian's cross compiler. Its own C and C++ runtime comes
# with it; every other library is Debian's arm64 package installed beside the amd64 one
# (multiarch, in /usr/lib/aarch64-linux-gnu), which the compiler searches and CMake finds there.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# pkg-config reads the arm64 packages' files only, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
