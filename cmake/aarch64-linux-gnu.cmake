# Cross build for 64-bit ARM with Debian's cross compiler and the arm64
# (multiarch) development packages; test programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# The arm64 libraries are installed multiarch beside the host's, with their own
# loader in /lib: the cross compiler's copy of libc under /usr/aarch64-linux-gnu
# must not be mixed with them (threads hang when the two meet).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
