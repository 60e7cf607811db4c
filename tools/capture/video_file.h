// Writing the capture: H.264 pictures and AAC sound muxed into the file the name asks for.
#pragma once

#include "rgb_to_yuv.h"

#include <cstddef>
#include <cstdint>

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;

namespace capture {

enum class VideoFileStatus : uint8_t {
    Ok,
    NoContainer,   // the libraries know no format for the output name
    NoEncoder,     // no H.264 or AAC encoder, or the container cannot carry them
    EncoderFailed, // an encoder refused its settings
    WriteFailed,   // the file cannot be created or written
};

struct VideoSettings {
    const char* path;
    int32_t width; // even
    int32_t height;
    int32_t framesPerSecond;
    const char* videoEncoder; // null: libx264, else any H.264 encoder the libraries offer
    const char* x264Preset;   // null: x264PresetDefault; libx264 only
};

// x264's presets trade encoding time for file size at the same quality factor, fastest first.
inline constexpr const char* x264Presets[] = {"ultrafast", "superfast", "veryfast", "faster",
                                              "fast",      "medium",    "slow",     "slower",
                                              "veryslow",  "placebo"};
inline constexpr const char* x264PresetDefault = "medium";

struct VideoFile {
    AVFormatContext* format;
    AVCodecContext* video;
    AVCodecContext* audio;
    AVStream* videoStream;
    AVStream* audioStream;
    RgbToYuv converter;
    AVFrame* picture;
    AVFrame* sound;
    AVPacket* packet;
    int64_t picturesWritten;
    int64_t soundFramesWritten;
    int32_t soundFill; // frames waiting in `sound` for a full encoder frame
    int32_t width;
    int32_t height;
    bool fileCreated;
    const char* videoEncoderName;
};

// Opens the encoders and creates the file. On failure nothing is left on disk and message says
// why, naming the file or the encoder.
VideoFileStatus openVideoFile(VideoFile* file, const VideoSettings& settings, char* message,
                              size_t messageSize);
// One picture of width x height RGBA pixels, rows from the bottom up as GL reads them.
bool writePicture(VideoFile* file, const uint8_t* rgbaBottomUp);
// The picture written last, once more: the encoder gets the same pixels again without them
// being read back or converted.
bool repeatPicture(VideoFile* file);
// 16-bit stereo frames, interleaved.
bool writeSound(VideoFile* file, const int16_t* samples, int64_t frames);
// Drains the encoders, writes the trailer and closes the file.
bool finishVideoFile(VideoFile* file);
// Frees everything; removes the file unless it was finished.
void closeVideoFile(VideoFile* file, bool removeFile);

} // namespace capture
