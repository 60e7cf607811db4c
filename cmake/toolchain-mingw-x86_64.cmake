# 64-bit Windows (x86_64-w64-mingw32): the same source, for machines whose Wine runs 64-bit only.
set(DEMO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
