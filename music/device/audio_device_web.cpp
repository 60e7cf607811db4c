// Audio device in a web browser: a Web Audio processing node loops over the output buffer in
// the module's memory and counts what it handed over.
//
// The node runs on the page's own thread, between frames. The page may set Module.audioTap to
// see every 16-bit stereo block the device hands over, in order (its tests hash the sound).
#include "audio_device.h"

#include "music/format.h"

#include <emscripten.h>

namespace music {
namespace {

// Frames per processing call: about 46 ms at 44100 Hz, short against the 2 s buffer.
constexpr int32_t deviceBufferFrames = 2048;

// The script inside is JavaScript, which the C++ formatter would break.
// clang-format off
EM_JS(int, webAudioOpen, (int rate, int frames, int channels), {
    var Context = window['AudioContext'] || window['webkitAudioContext'];
    if (!Context) return 0;
    var context;
    try {
        context = new Context({'sampleRate': rate});
    } catch (e) {
        return 0;
    }
    var node = context.createScriptProcessor(frames, 0, channels);
    var device = {context: context, node: node, buffer: 0, frames: 0, read: 0, delivered: 0};
    node.onaudioprocess = function(event) {
        var output = event.outputBuffer;
        var left = output.getChannelData(0);
        var right = output.getChannelData(1);
        var wanted = output.length;
        if (device.buffer === 0 || device.frames <= 0) {
            left.fill(0);
            right.fill(0);
            return;
        }
        var tap = Module['audioTap'];
        var done = 0;
        while (done < wanted) {
            var n = Math.min(device.frames - device.read, wanted - done);
            var from = (device.buffer >> 1) + device.read * 2;
            for (var i = 0; i < n; ++i) {
                left[done + i] = HEAP16[from + 2 * i] / 32768;
                right[done + i] = HEAP16[from + 2 * i + 1] / 32768;
            }
            if (tap) tap(HEAP16.slice(from, from + 2 * n));
            done += n;
            device.read += n;
            if (device.read >= device.frames) device.read = 0;
        }
        device.delivered += wanted * 4;
    };
    node.connect(context.destination);
    // Started from the page's click, the context may still wait for a gesture in some browsers.
    if (context.state === 'suspended') context.resume();
    Module['beatAudioDevice'] = device;
    return 1;
});

EM_JS(void, webAudioStart, (const int16_t* buffer, int frames), {
    var device = Module['beatAudioDevice'];
    if (!device) return;
    device.read = 0;
    device.delivered = 0;
    device.frames = frames;
    device.buffer = buffer;
});

EM_JS(double, webAudioDelivered, (), {
    var device = Module['beatAudioDevice'];
    return device ? device.delivered : 0;
});

EM_JS(void, webAudioReset, (), {
    var device = Module['beatAudioDevice'];
    if (!device) return;
    device.buffer = 0;
    device.frames = 0;
});

EM_JS(void, webAudioClose, (), {
    var device = Module['beatAudioDevice'];
    if (!device) return;
    device.node.onaudioprocess = null;
    device.node.disconnect();
    device.context.close();
    Module['beatAudioDevice'] = null;
});
// clang-format on

// The page has one audio context for the player (Module['beatAudioDevice']): its state is the
// backend's, and a second open is refused while it is open.
bool deviceOpen;

} // namespace

// The handle is never looked into: any non-null address stands for the one device.
struct AudioDevice {};

namespace {
AudioDevice theDevice;
} // namespace

AudioDevice* audioDeviceOpen(int32_t rateHz) {
    if (deviceOpen) return nullptr;
    deviceOpen = webAudioOpen(rateHz, deviceBufferFrames, outputChannels) != 0;
    return deviceOpen ? &theDevice : nullptr;
}

void audioDeviceStart(AudioDevice* handle, const int16_t* buffer, int32_t frameCount) {
    if (handle == nullptr || !deviceOpen) return;
    webAudioStart(buffer, frameCount);
}

// What has been handed over minus one processing block, which may still be on its way out:
// never ahead of what was heard, so the renderer never overwrites frames still to be played.
uint64_t audioDevicePosition(AudioDevice* handle) {
    if (handle == nullptr || !deviceOpen) return 0;
    const auto delivered = static_cast<uint64_t>(webAudioDelivered());
    constexpr uint64_t blockBytes = static_cast<uint64_t>(deviceBufferFrames) * bytesPerFrame;
    return delivered > blockBytes ? delivered - blockBytes : 0;
}

void audioDeviceReset(AudioDevice* handle) {
    if (handle != nullptr && deviceOpen) webAudioReset();
}

void audioDeviceClose(AudioDevice* handle) {
    if (handle == nullptr) return;
    if (deviceOpen) webAudioClose();
    deviceOpen = false;
}

} // namespace music
