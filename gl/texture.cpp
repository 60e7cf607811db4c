// A picture as a GL texture: decode from PNG bytes, resample to a fixed size, upload, bind.
#include "texture.h"

#include "display/entry_points.h"

#include <stb_image.h>

#include <cstdlib>

namespace gl {

bool decodeTexture(Texture* texture, const uint8_t* data, uint32_t length) {
    if (texture->pixels != nullptr) return true;
    int width = texture->width;
    int height = texture->height;
    int components = texture->components;
    uint8_t* pixels =
        stbi_load_from_memory(data, static_cast<int>(length), &width, &height, &components, 0);
    if (pixels == nullptr) return false;
    texture->width = width;
    texture->height = height;
    texture->components = components;
    texture->pixels = pixels;
    return true;
}

const char* decodeFailureReason() {
    return stbi_failure_reason();
}

int32_t resampleTexture(Texture* texture, uint32_t newWidth, uint32_t newHeight) {
    const int32_t width = texture->width;
    const int32_t height = texture->height;
    const int32_t components = texture->components;
    // Interpolation reads the neighbour at +1 and divides by the target size less one.
    if (width < 2 || height < 2 || components < 1 || texture->pixels == nullptr) return 1;
    if (newWidth < 2 || newHeight < 2) return 1;
    const uint64_t bytes = static_cast<uint64_t>(components) * newWidth * newHeight;
    if (bytes > SIZE_MAX) return 1;
    auto* target = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
    if (target == nullptr) return 1;

    const uint8_t* source = texture->pixels;
    const float sx = static_cast<float>(width - 1) / static_cast<float>(newWidth - 1);
    const float sy = static_cast<float>(height - 1) / static_cast<float>(newHeight - 1);
    const size_t sourceStride = static_cast<size_t>(width) * static_cast<size_t>(components);
    uint8_t* out = target;
    for (uint32_t y = 0; y < newHeight; ++y) {
        const float fy = static_cast<float>(y) * sy;
        int32_t iy = static_cast<int32_t>(fy);
        if (iy > height - 2) iy = height - 2;
        const float ty = fy - static_cast<float>(iy);
        const uint8_t* row0 = source + static_cast<size_t>(iy) * sourceStride;
        const uint8_t* row1 = row0 + sourceStride;
        for (uint32_t x = 0; x < newWidth; ++x) {
            const float fx = static_cast<float>(x) * sx;
            int32_t ix = static_cast<int32_t>(fx);
            if (ix > width - 2) ix = width - 2;
            const float tx = fx - static_cast<float>(ix);
            const size_t left = static_cast<size_t>(ix) * static_cast<size_t>(components);
            const size_t right = left + static_cast<size_t>(components);
            for (int32_t c = 0; c < components; ++c) {
                const float p00 = row0[left + c];
                const float p01 = row0[right + c];
                const float p10 = row1[left + c];
                const float p11 = row1[right + c];
                // This order of additions, with the rounding term second, is what the pictures
                // were made against.
                const float value = p00 * (1.0f - tx) * (1.0f - ty) + 0.5f +
                                    p01 * tx * (1.0f - ty) + p10 * (1.0f - tx) * ty + p11 * tx * ty;
                *out++ = static_cast<uint8_t>(static_cast<int32_t>(value));
            }
        }
    }
    std::free(texture->pixels);
    texture->width = static_cast<int32_t>(newWidth);
    texture->height = static_cast<int32_t>(newHeight);
    texture->pixels = target;
    return 0;
}

GLenum uploadFormatFor(int32_t components) {
    switch (components) {
    case 1: return GL_LUMINANCE;
    case 2: return GL_LUMINANCE_ALPHA;
    case 4: return GL_RGBA;
    default: return GL_RGB;
    }
}

GLint filterFor(int32_t selector) {
    return selector == 1 ? GL_LINEAR : GL_NEAREST;
}

int32_t uploadTexture(Texture* texture) {
    const GLint filter = filterFor(texture->filter);
    if (texture->width > textureSizeLimit || texture->height > textureSizeLimit) {
        resampleTexture(texture, textureSizeLimit, textureSizeLimit);
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    if (name == 0) return 1;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const GLenum format = uploadFormatFor(texture->components);
    // Rows are packed without padding; with the default 4-byte row alignment GL would read past
    // the end of a buffer whose row length is not a multiple of four.
    const int64_t rowBytes =
        static_cast<int64_t>(texture->width) *
        (texture->components >= 1 && texture->components <= 4 ? texture->components : 3);
    const bool packedRows = texture->pixels != nullptr && rowBytes % 4 != 0;
    if (packedRows) glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), texture->width, texture->height, 0,
                 format, GL_UNSIGNED_BYTE, texture->pixels);
    if (packedRows) glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
    texture->name = name;
    std::free(texture->pixels);
    texture->pixels = nullptr;
    return 0;
}

void bindTexture(Texture* texture, int32_t unit) {
    using display::entry;
    entry<display::SLOT_ACTIVE_TEXTURE>()(static_cast<GLenum>(GL_TEXTURE0 + unit));
    glBindTexture(GL_TEXTURE_2D, texture->name);
    if (unit >= 0 && unit < display::renderStateTextureUnits) {
        display::renderState.boundTexture[unit] = texture;
    }
    texture->unit = unit;
}

void unbindTexture(Texture* texture) {
    using display::entry;
    entry<display::SLOT_ACTIVE_TEXTURE>()(static_cast<GLenum>(GL_TEXTURE0 + texture->unit));
    glBindTexture(GL_TEXTURE_2D, 0);
    if (texture->unit >= 0 && texture->unit < display::renderStateTextureUnits) {
        display::renderState.boundTexture[texture->unit] = nullptr;
    }
    texture->unit = 0;
}

void deleteTexture(Texture* texture) {
    if (texture->name != 0) glDeleteTextures(1, &texture->name);
    if (texture->pixels != nullptr) std::free(texture->pixels);
    std::free(texture);
}

} // namespace gl
