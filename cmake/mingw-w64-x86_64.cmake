# Cross-compiling for 64-bit Windows with Debian's mingw-w64. The -posix
# variants are needed: std::thread and std::mutex are missing from the -win32 ones.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(H264_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${H264_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${H264_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${H264_MINGW_TRIPLE}-windres)

# Libraries come from the mingw sysroot plus the prefixes given in
# CMAKE_PREFIX_PATH (the cached Windows builds of FFmpeg and SDL); host
# programs such as pkg-config and python come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${H264_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
