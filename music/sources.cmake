# The player's sources, named once: the music library, the fuzz targets and anything else that
# builds the player from source read this list. Paths are relative to this folder.
#
# The core: loader, sequencer and the channel's rooms, effects, voice update, mixer, output and
# offline renderer. No display, GL or audio device.
set(MUSIC_CORE_SOURCES
  amiga_periods.cpp
  audio_output.cpp
  auto_vibrato.cpp
  effects.cpp
  envelope.cpp
  load_result.cpp
  loader.cpp
  mixer.cpp
  modulation.cpp
  note_start.cpp
  offline_render.cpp
  periods.cpp
  profile.cpp
  sequencer.cpp
  song_timing.cpp
  stream.cpp
  tempo.cpp
  voice_update.cpp
  volume_column.cpp
)
# The render thread's start, priority and sleep, one file per platform.
set(MUSIC_THREAD_POSIX_SOURCE thread_posix.cpp)
set(MUSIC_THREAD_WIN32_SOURCE thread_win32.cpp)
set(MUSIC_THREAD_WEB_SOURCE thread_web.cpp)
# Device playback (start, stop, the render thread) and the device backends.
set(MUSIC_PLAYBACK_SOURCE device/playback.cpp)
set(MUSIC_DEVICE_NONE_SOURCE device/audio_device_none.cpp)
set(MUSIC_DEVICE_TEST_SOURCE device/audio_device_test.cpp)
set(MUSIC_DEVICE_SDL_SOURCE device/audio_device_sdl.cpp)
set(MUSIC_DEVICE_WAVEOUT_SOURCE device/audio_device_waveout.cpp)
set(MUSIC_DEVICE_WEB_SOURCE device/audio_device_web.cpp)
# The public face: the C interface of include/beatxm.h.
set(MUSIC_API_SOURCE api/beatxm.cpp)

# The same lists as absolute paths, for folders other than music/.
set(MUSIC_DIR ${CMAKE_CURRENT_LIST_DIR})
list(TRANSFORM MUSIC_CORE_SOURCES PREPEND ${MUSIC_DIR}/ OUTPUT_VARIABLE MUSIC_CORE_PATHS)
