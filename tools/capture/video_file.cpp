// Writing the capture with libavformat and libavcodec: fixed settings, so that two captures of
// the same span are the same file.
#include "video_file.h"

#include "music/format.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <string_view>

namespace capture {
namespace {

constexpr int64_t soundBitRate = 192000;
constexpr const char* x264Quality = "18"; // constant rate factor; 18 looks lossless
// A fixed thread count keeps the bitstream the same on every machine.
constexpr int32_t videoEncoderThreads = 2;
constexpr int32_t keyFrameIntervalSeconds = 2;

[[gnu::format(printf, 3, 4)]] void say(char* message, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, size, format, arguments);
    va_end(arguments);
}

const AVCodec* findVideoEncoder(const char* wanted, const AVOutputFormat* container) {
    if (wanted != nullptr) {
        const AVCodec* codec = avcodec_find_encoder_by_name(wanted);
        return codec != nullptr && codec->type == AVMEDIA_TYPE_VIDEO ? codec : nullptr;
    }
    if (const AVCodec* x264 = avcodec_find_encoder_by_name("libx264"); x264 != nullptr) {
        return x264;
    }
    // Any other H.264 encoder that opens without hardware is worth a try.
    void* at = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&at)) {
        if (av_codec_is_encoder(codec) && codec->id == AV_CODEC_ID_H264 &&
            (codec->capabilities & AV_CODEC_CAP_HARDWARE) == 0 &&
            avformat_query_codec(container, codec->id, FF_COMPLIANCE_NORMAL) == 1) {
            return codec;
        }
    }
    return nullptr;
}

bool send(VideoFile* file, AVCodecContext* encoder, AVStream* stream, const AVFrame* frame) {
    if (avcodec_send_frame(encoder, frame) < 0) return false;
    for (;;) {
        const int got = avcodec_receive_packet(encoder, file->packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
        if (got < 0) return false;
        // The video encoder leaves durations out; without one the file would end a frame early.
        if (encoder == file->video && file->packet->duration == 0) file->packet->duration = 1;
        av_packet_rescale_ts(file->packet, encoder->time_base, stream->time_base);
        file->packet->stream_index = stream->index;
        if (av_interleaved_write_frame(file->format, file->packet) < 0) return false;
    }
}

// writeSound made the buffer writable before filling it.
bool sendSoundFrame(VideoFile* file) {
    file->sound->nb_samples = file->soundFill;
    file->sound->pts = file->soundFramesWritten;
    file->soundFramesWritten += file->soundFill;
    file->soundFill = 0;
    return send(file, file->audio, file->audioStream, file->sound);
}

VideoFileStatus openEncoders(VideoFile* file, const VideoSettings& settings, char* message,
                             size_t messageSize) {
    const AVOutputFormat* container = file->format->oformat;
    const AVCodec* videoCodec = findVideoEncoder(settings.videoEncoder, container);
    if (videoCodec == nullptr) {
        say(message, messageSize, "no video encoder %s in this FFmpeg",
            settings.videoEncoder != nullptr ? settings.videoEncoder : "for H.264");
        return VideoFileStatus::NoEncoder;
    }
    const AVCodec* audioCodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (audioCodec == nullptr) {
        say(message, messageSize, "no AAC encoder in this FFmpeg");
        return VideoFileStatus::NoEncoder;
    }
    if (avformat_query_codec(container, videoCodec->id, FF_COMPLIANCE_NORMAL) != 1 ||
        avformat_query_codec(container, audioCodec->id, FF_COMPLIANCE_NORMAL) != 1) {
        say(message, messageSize, "the %s format cannot carry %s video and AAC sound",
            container->name, avcodec_get_name(videoCodec->id));
        return VideoFileStatus::NoEncoder;
    }
    file->videoEncoderName = videoCodec->name;
    const bool x264 = std::string_view(videoCodec->name) == "libx264";
    if (settings.x264Preset != nullptr && !x264) {
        say(message, messageSize, "the preset %s is x264's; the video encoder here is %s",
            settings.x264Preset, videoCodec->name);
        return VideoFileStatus::NoEncoder;
    }

    file->video = avcodec_alloc_context3(videoCodec);
    file->audio = avcodec_alloc_context3(audioCodec);
    file->videoStream = avformat_new_stream(file->format, nullptr);
    file->audioStream = avformat_new_stream(file->format, nullptr);
    if (file->video == nullptr || file->audio == nullptr || file->videoStream == nullptr ||
        file->audioStream == nullptr) {
        say(message, messageSize, "out of memory setting up the encoders");
        return VideoFileStatus::EncoderFailed;
    }
    const bool globalHeader = (container->flags & AVFMT_GLOBALHEADER) != 0;

    AVCodecContext* v = file->video;
    v->width = settings.width;
    v->height = settings.height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = AVRational{1, settings.framesPerSecond};
    v->framerate = AVRational{settings.framesPerSecond, 1};
    v->gop_size = settings.framesPerSecond * keyFrameIntervalSeconds;
    v->color_range = AVCOL_RANGE_MPEG;
    v->colorspace = AVCOL_SPC_BT709;
    v->color_primaries = AVCOL_PRI_BT709;
    v->color_trc = AVCOL_TRC_BT709;
    v->thread_count = videoEncoderThreads;
    v->flags |= AV_CODEC_FLAG_BITEXACT;
    if (globalHeader) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* videoOptions = nullptr;
    if (x264) {
        av_dict_set(&videoOptions, "preset",
                    settings.x264Preset != nullptr ? settings.x264Preset : x264PresetDefault, 0);
        av_dict_set(&videoOptions, "crf", x264Quality, 0);
    } else {
        v->bit_rate = static_cast<int64_t>(settings.width) * settings.height * 4;
    }
    const int videoOpened = avcodec_open2(v, videoCodec, &videoOptions);
    av_dict_free(&videoOptions);
    if (videoOpened < 0) {
        char reason[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(videoOpened, reason, sizeof reason);
        say(message, messageSize, "the video encoder %s cannot start: %s", videoCodec->name,
            reason);
        return VideoFileStatus::EncoderFailed;
    }

    AVCodecContext* a = file->audio;
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    a->sample_rate = music::defaultSampleRateHz;
    a->time_base = AVRational{1, music::defaultSampleRateHz};
    a->bit_rate = soundBitRate;
    av_channel_layout_default(&a->ch_layout, music::outputChannels);
    a->flags |= AV_CODEC_FLAG_BITEXACT;
    if (globalHeader) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int opened = avcodec_open2(a, audioCodec, nullptr); opened < 0) {
        char reason[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(opened, reason, sizeof reason);
        say(message, messageSize, "the AAC encoder cannot start: %s", reason);
        return VideoFileStatus::EncoderFailed;
    }

    if (avcodec_parameters_from_context(file->videoStream->codecpar, v) < 0 ||
        avcodec_parameters_from_context(file->audioStream->codecpar, a) < 0) {
        say(message, messageSize, "the encoders' parameters do not fit the file");
        return VideoFileStatus::EncoderFailed;
    }
    file->videoStream->time_base = v->time_base;
    file->audioStream->time_base = a->time_base;

    file->picture = av_frame_alloc();
    file->sound = av_frame_alloc();
    file->packet = av_packet_alloc();
    if (file->picture == nullptr || file->sound == nullptr || file->packet == nullptr) {
        say(message, messageSize, "out of memory setting up the encoders");
        return VideoFileStatus::EncoderFailed;
    }
    // The GL picture is full-range RGB; the video carries BT.709 in the limited range.
    if (!startRgbToYuv(&file->converter, settings.width, settings.height)) {
        say(message, messageSize, "no colour conversion for %dx%d pictures", settings.width,
            settings.height);
        return VideoFileStatus::EncoderFailed;
    }
    file->picture->format = v->pix_fmt;
    file->picture->width = v->width;
    file->picture->height = v->height;
    file->sound->format = a->sample_fmt;
    file->sound->sample_rate = a->sample_rate;
    file->sound->nb_samples = a->frame_size;
    av_channel_layout_copy(&file->sound->ch_layout, &a->ch_layout);
    if (av_frame_get_buffer(file->picture, 0) < 0 || av_frame_get_buffer(file->sound, 0) < 0) {
        say(message, messageSize, "out of memory for the frame buffers");
        return VideoFileStatus::EncoderFailed;
    }
    return VideoFileStatus::Ok;
}

} // namespace

VideoFileStatus openVideoFile(VideoFile* file, const VideoSettings& settings, char* message,
                              size_t messageSize) {
    *file = VideoFile{};
    file->width = settings.width;
    file->height = settings.height;
    // The libraries' own complaint about an unknown name would repeat ours less clearly.
    av_log_set_level(AV_LOG_QUIET);
    const int allocated =
        avformat_alloc_output_context2(&file->format, nullptr, nullptr, settings.path);
    av_log_set_level(AV_LOG_ERROR);
    if (allocated < 0 || file->format == nullptr) {
        say(message, messageSize, "cannot tell a video format from the name %s", settings.path);
        return VideoFileStatus::NoContainer;
    }
    file->format->flags |= AVFMT_FLAG_BITEXACT;
    if (const VideoFileStatus status = openEncoders(file, settings, message, messageSize);
        status != VideoFileStatus::Ok) {
        closeVideoFile(file, false);
        return status;
    }
    if ((file->format->oformat->flags & AVFMT_NOFILE) == 0) {
        const int opened = avio_open(&file->format->pb, settings.path, AVIO_FLAG_WRITE);
        if (opened < 0) {
            char reason[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(opened, reason, sizeof reason);
            say(message, messageSize, "cannot write %s: %s", settings.path, reason);
            closeVideoFile(file, false);
            return VideoFileStatus::WriteFailed;
        }
        file->fileCreated = true;
    }
    if (const int written = avformat_write_header(file->format, nullptr); written < 0) {
        char reason[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(written, reason, sizeof reason);
        say(message, messageSize, "cannot write %s: %s", settings.path, reason);
        closeVideoFile(file, true);
        return VideoFileStatus::WriteFailed;
    }
    return VideoFileStatus::Ok;
}

bool writePicture(VideoFile* file, const uint8_t* rgbaBottomUp) {
    if (av_frame_make_writable(file->picture) < 0) return false;
    uint8_t* const planes[3] = {file->picture->data[0], file->picture->data[1],
                                file->picture->data[2]};
    convertRgbToYuv(&file->converter, rgbaBottomUp, planes, file->picture->linesize);
    file->picture->pts = file->picturesWritten++;
    return send(file, file->video, file->videoStream, file->picture);
}

bool repeatPicture(VideoFile* file) {
    // The encoder copied the last picture in and took nothing away from the frame's planes.
    if (file->picturesWritten == 0) return false;
    file->picture->pts = file->picturesWritten++;
    return send(file, file->video, file->videoStream, file->picture);
}

bool writeSound(VideoFile* file, const int16_t* samples, int64_t frames) {
    const int32_t frameSize = file->audio->frame_size;
    for (int64_t i = 0; i < frames; ++i) {
        if (file->soundFill == 0 && av_frame_make_writable(file->sound) < 0) return false;
        auto* left = reinterpret_cast<float*>(file->sound->data[0]);
        auto* right = reinterpret_cast<float*>(file->sound->data[1]);
        left[file->soundFill] = static_cast<float>(samples[i * 2]) / 32768.0f;
        right[file->soundFill] = static_cast<float>(samples[i * 2 + 1]) / 32768.0f;
        if (++file->soundFill == frameSize && !sendSoundFrame(file)) return false;
    }
    return true;
}

bool finishVideoFile(VideoFile* file) {
    bool ok = true;
    if (file->soundFill > 0) ok = sendSoundFrame(file);
    ok = ok && send(file, file->audio, file->audioStream, nullptr);
    ok = ok && send(file, file->video, file->videoStream, nullptr);
    ok = ok && av_write_trailer(file->format) == 0;
    if (file->format->pb != nullptr) ok = avio_closep(&file->format->pb) == 0 && ok;
    return ok;
}

void closeVideoFile(VideoFile* file, bool removeFile) {
    if (file->format != nullptr && file->format->pb != nullptr) avio_closep(&file->format->pb);
    // Only a regular file is ours to remove: an output such as /dev/null stays where it is.
    struct stat status {};
    if (removeFile && file->fileCreated && file->format != nullptr &&
        lstat(file->format->url, &status) == 0 && S_ISREG(status.st_mode)) {
        std::remove(file->format->url);
    }
    file->fileCreated = false;
    av_frame_free(&file->picture);
    av_frame_free(&file->sound);
    av_packet_free(&file->packet);
    avcodec_free_context(&file->video);
    avcodec_free_context(&file->audio);
    avformat_free_context(file->format);
    *file = VideoFile{};
}

} // namespace capture
