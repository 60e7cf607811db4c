# 32-bit Windows (i686-w64-mingw32): the platform the demo is written for.
set(DEMO_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
# The player's float arithmetic is single precision in a fixed order; x87 registers would carry
# excess precision, so floats go through SSE2 as on x86_64.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
