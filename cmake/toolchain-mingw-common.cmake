# Cross build for Windows with Debian's mingw-w64 compilers, posix thread variant; the including
# file names the target in DEMO_MINGW_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${DEMO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DEMO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DEMO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DEMO_MINGW_TRIPLE})
# Programs run here, on the build machine; headers and libraries come from the target's root.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
