# The web build: the demo and the module player as WebAssembly pages for a web browser, through
# emscripten. The demo is the same program as on Linux and Windows; behind the display and the
# audio device stand the canvas, WebGL and Web Audio. Everything lands at the top of the build
# folder: demo.html, player.html and their .js and .wasm files, and the probe page the tests use.
set(DEMO_STB_INCLUDE_DIR /usr/include/stb CACHE PATH "Folder holding stb_image.h")
if(NOT EXISTS ${DEMO_STB_INCLUDE_DIR}/stb_image.h)
  message(FATAL_ERROR "stb_image.h not found in ${DEMO_STB_INCLUDE_DIR} (Debian: libstb-dev)")
endif()

find_package(Threads REQUIRED)

# The decoder compiled from the header, standing in for the Linux build's libstb.
add_library(stb_image STATIC ${CMAKE_SOURCE_DIR}/gl/stb_image.cpp)
target_include_directories(stb_image SYSTEM PUBLIC ${DEMO_STB_INCLUDE_DIR})
target_compile_options(stb_image PRIVATE -w)
add_library(PkgConfig::STB ALIAS stb_image)
# WebGL comes with emscripten's runtime; nothing to find or link by name.
add_library(OpenGL::GL INTERFACE IMPORTED)

add_subdirectory(music)
add_subdirectory(display)
add_subdirectory(gl)
add_subdirectory(driver)
add_subdirectory(web)

enable_testing()
add_subdirectory(tests/web)
