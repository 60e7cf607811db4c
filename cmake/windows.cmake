# The Windows build: the demo alone, on Win32, GDI, WGL and waveOut. One self-contained
# executable: the C++ runtime and the thread library are linked in, and it imports system DLLs
# only. Tools, tests and benchmarks stay with the Linux build, apart from the Wine test helper.
set(DEMO_STB_INCLUDE_DIR /usr/include/stb CACHE PATH "Folder holding stb_image.h")
if(NOT EXISTS ${DEMO_STB_INCLUDE_DIR}/stb_image.h)
  message(FATAL_ERROR "stb_image.h not found in ${DEMO_STB_INCLUDE_DIR} (Debian: libstb-dev)")
endif()

# windows.h comes in through GL/gl.h; keep its min and max macros and rarely used parts out.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
add_link_options(-static $<$<CONFIG:Release>:-s>)

find_package(Threads REQUIRED)
find_package(OpenGL REQUIRED)

# The decoder compiled from the header, standing in for the Linux build's libstb.
add_library(stb_image STATIC ${CMAKE_SOURCE_DIR}/gl/stb_image.cpp)
target_include_directories(stb_image SYSTEM PUBLIC ${DEMO_STB_INCLUDE_DIR})
target_compile_options(stb_image PRIVATE -w)
add_library(PkgConfig::STB ALIAS stb_image)

enable_testing()

add_subdirectory(music)
add_subdirectory(display)
add_subdirectory(gl)
add_subdirectory(driver)
add_subdirectory(tests/windows)
