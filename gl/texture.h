// A picture as a GL texture: decode from PNG bytes, resample to a fixed size, upload, bind.
#pragma once

#include <GL/gl.h>

#include <cstddef>
#include <cstdint>

namespace gl {

struct Texture {
    uint32_t name; // GL texture name, 0 while there is none
    int32_t width;
    int32_t height;
    int32_t components; // 8-bit channels per pixel
    uint8_t* pixels;    // owned from decode until upload; rows top down, no padding
    int32_t unit;       // texture unit last bound to
    int32_t filter;     // 0 nearest, 1 linear
};

constexpr int32_t textureSizeLimit = 1024;

// Decodes only into an empty record; false when the decoder fails (see decodeFailureReason).
bool decodeTexture(Texture* texture, const uint8_t* data, uint32_t length);
const char* decodeFailureReason();

// Corner-aligned bilinear resample in single precision. 0 on success, 1 when refused: fewer
// than 2 x 2 pixels on either side, no pixels, or no memory.
int32_t resampleTexture(Texture* texture, uint32_t newWidth, uint32_t newHeight);
// The same into the caller's buffer of resampledBytes: the decoded pixels are freed and the
// record keeps no pixels of its own (upload it with uploadTextureFrom). Refused as above.
int32_t resampleTextureInto(Texture* texture, uint32_t newWidth, uint32_t newHeight,
                            uint8_t* target);
size_t resampledBytes(const Texture* texture, uint32_t newWidth, uint32_t newHeight);

GLenum uploadFormatFor(int32_t components);
GLint filterFor(int32_t selector);
// 0 on success, 1 when no GL name could be generated.
int32_t uploadTexture(Texture* texture);
// Uploads pixels the record does not own (from resampleTextureInto), leaving them alone; a
// record that still owns pixels, or is larger than the limit, goes through uploadTexture.
int32_t uploadTextureFrom(Texture* texture, const uint8_t* pixels);
void bindTexture(Texture* texture, int32_t unit);
void unbindTexture(Texture* texture);
// Releases the GL texture, the pixels and the record (allocated with calloc).
void deleteTexture(Texture* texture);

} // namespace gl
