#!/bin/sh
# The library as someone who installed it sees it. Arguments: build folder, source folder,
# xmrender, a scratch folder, the C compiler, cmake.
set -eu
build=$1 src=$2 xmrender=$3 work=$4 cc=$5 cmake=$6
song=$src/driver/assets/song.xm

rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log"

pc=$(dirname "$(find "$work/prefix" -name beatxm.pc | head -n 1)")
export PKG_CONFIG_PATH="$pc"
libdir=$(pkg-config --variable=libdir beatxm)
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$src/examples/render_wav.c" \
    $(pkg-config --cflags --libs beatxm) -Wl,-rpath,"$libdir" -o "$work/render_wav"

for setting in "demo 44100" "ft2 44100" "ft2 48000" "demo 22050"; do
    set -- $setting
    "$work/render_wav" "$song" "$work/example.wav" "$1" "$2"
    "$xmrender" "$song" "$work/xmrender.wav" --profile "$1" --rate "$2"
    if ! cmp "$work/example.wav" "$work/xmrender.wav"; then
        echo "profile $1 at $2 Hz: the example's WAV differs from xmrender's" >&2
        exit 1
    fi
    echo "profile $1 at $2 Hz: identical ($(wc -c <"$work/example.wav") bytes)"
done

# The static archive holds the whole player: a program linked with it needs no libbeatxm.so.
static_libs=$(pkg-config --static --libs-only-l beatxm | sed 's/-lbeatxm//')
# shellcheck disable=SC2046,SC2086
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$src/examples/render_wav.c" \
    $(pkg-config --cflags beatxm) "$libdir/libbeatxm.a" $static_libs -o "$work/render_wav_static"
if ldd "$work/render_wav_static" | grep -q beatxm; then
    echo "the static build still loads libbeatxm.so" >&2
    exit 1
fi
"$work/render_wav_static" "$song" "$work/static.wav" demo 44100
"$xmrender" "$song" "$work/xmrender.wav" --profile demo
cmp "$work/static.wav" "$work/xmrender.wav"
echo "static archive: identical"

# Every symbol the installed library exports carries the one prefix.
lib=$(find "$work/prefix" -name 'libbeatxm.so*' -type f | head -n 1)
others=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^bxm_' || true)
if [ -n "$others" ]; then
    echo "exported without the bxm_ prefix: $others" >&2
    exit 1
fi
echo "exports: $(nm -D --defined-only "$lib" | awk '{print $3}' | tr '\n' ' ')"

# A CMake project finds the same library through the package config.
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(consumer C)
find_package(beatxm 2.0 REQUIRED)
add_executable(render_wav render_wav.c)
target_link_libraries(render_wav PRIVATE beatxm::beatxm)
add_executable(render_wav_static render_wav.c)
target_link_libraries(render_wav_static PRIVATE beatxm::beatxm_static)
CMAKE
cp "$src/examples/render_wav.c" "$work/consumer/"
"$cmake" -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCMAKE_C_COMPILER="$cc" >"$work/consumer.log"
"$cmake" --build "$work/consumer/build" >>"$work/consumer.log"
"$work/consumer/build/render_wav" "$song" "$work/consumer.wav" demo 44100
"$xmrender" "$song" "$work/xmrender.wav" --profile demo
cmp "$work/consumer.wav" "$work/xmrender.wav"
"$work/consumer/build/render_wav_static" "$song" "$work/consumer_static.wav" demo 44100
cmp "$work/consumer_static.wav" "$work/xmrender.wav"
echo "CMake package consumer, shared and static: identical"

# The licence travels with the library.
test -f "$work/prefix/share/doc/beatxm/LICENSE"
grep -q "MIT" "$pc/beatxm.pc"
