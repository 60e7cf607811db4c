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

namespace {

// Where each target column samples: the left source byte and both weights, worked out once per
// column with the very operations the per-pixel formula uses, so every byte comes out the same.
struct ColumnTap {
    size_t left; // byte offset of the left neighbour in a source row
    float tx;
    float oneMinusTx;
};

bool resampleAcceptable(const Texture* texture, uint32_t newWidth, uint32_t newHeight) {
    // Interpolation reads the neighbour at +1 and divides by the target size less one.
    return texture->width >= 2 && texture->height >= 2 && texture->components >= 1 &&
           texture->pixels != nullptr && newWidth >= 2 && newHeight >= 2;
}

template <int32_t Components>
void resampleRows(const uint8_t* source, int32_t width, int32_t height, int32_t components,
                  const ColumnTap* columns, uint8_t* out, uint32_t newWidth, uint32_t newHeight) {
    const int32_t n = Components > 0 ? Components : components;
    const float sy = static_cast<float>(height - 1) / static_cast<float>(newHeight - 1);
    const size_t sourceStride = static_cast<size_t>(width) * static_cast<size_t>(n);
    for (uint32_t y = 0; y < newHeight; ++y) {
        const float fy = static_cast<float>(y) * sy;
        int32_t iy = static_cast<int32_t>(fy);
        if (iy > height - 2) iy = height - 2;
        const float ty = fy - static_cast<float>(iy);
        const float oneMinusTy = 1.0f - ty;
        const uint8_t* row0 = source + static_cast<size_t>(iy) * sourceStride;
        const uint8_t* row1 = row0 + sourceStride;
        for (uint32_t x = 0; x < newWidth; ++x) {
            const ColumnTap tap = columns[x];
            const uint8_t* a = row0 + tap.left;
            const uint8_t* b = row1 + tap.left;
            for (int32_t c = 0; c < n; ++c) {
                const float p00 = a[c];
                const float p01 = a[c + n];
                const float p10 = b[c];
                const float p11 = b[c + n];
                // This order of additions, with the rounding term second, is what the pictures
                // were made against.
                const float value = p00 * tap.oneMinusTx * oneMinusTy + 0.5f +
                                    p01 * tap.tx * oneMinusTy + p10 * tap.oneMinusTx * ty +
                                    p11 * tap.tx * ty;
                *out++ = static_cast<uint8_t>(static_cast<int32_t>(value));
            }
        }
    }
}

// False on no memory for the column table.
bool resampleInto(const Texture* texture, uint32_t newWidth, uint32_t newHeight, uint8_t* target) {
    const int32_t width = texture->width;
    const int32_t components = texture->components;
    auto* columns = static_cast<ColumnTap*>(std::malloc(sizeof(ColumnTap) * newWidth));
    if (columns == nullptr) return false;
    const float sx = static_cast<float>(width - 1) / static_cast<float>(newWidth - 1);
    for (uint32_t x = 0; x < newWidth; ++x) {
        const float fx = static_cast<float>(x) * sx;
        int32_t ix = static_cast<int32_t>(fx);
        if (ix > width - 2) ix = width - 2;
        const float tx = fx - static_cast<float>(ix);
        columns[x] = {static_cast<size_t>(ix) * static_cast<size_t>(components), tx, 1.0f - tx};
    }
    const uint8_t* source = texture->pixels;
    const int32_t height = texture->height;
    switch (components) {
    case 1: resampleRows<1>(source, width, height, 1, columns, target, newWidth, newHeight); break;
    case 3: resampleRows<3>(source, width, height, 3, columns, target, newWidth, newHeight); break;
    case 4: resampleRows<4>(source, width, height, 4, columns, target, newWidth, newHeight); break;
    default:
        resampleRows<0>(source, width, height, components, columns, target, newWidth, newHeight);
        break;
    }
    std::free(columns);
    return true;
}

void takeResampled(Texture* texture, uint32_t newWidth, uint32_t newHeight, uint8_t* pixels) {
    std::free(texture->pixels);
    texture->width = static_cast<int32_t>(newWidth);
    texture->height = static_cast<int32_t>(newHeight);
    texture->pixels = pixels;
}

} // namespace

size_t resampledBytes(const Texture* texture, uint32_t newWidth, uint32_t newHeight) {
    const int32_t components = texture->components > 0 ? texture->components : 0;
    return static_cast<size_t>(components) * newWidth * newHeight;
}

int32_t resampleTexture(Texture* texture, uint32_t newWidth, uint32_t newHeight) {
    if (!resampleAcceptable(texture, newWidth, newHeight)) return 1;
    const uint64_t bytes = static_cast<uint64_t>(texture->components) * newWidth * newHeight;
    if (bytes > SIZE_MAX) return 1;
    auto* target = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
    if (target == nullptr) return 1;
    if (!resampleInto(texture, newWidth, newHeight, target)) {
        std::free(target);
        return 1;
    }
    takeResampled(texture, newWidth, newHeight, target);
    return 0;
}

int32_t resampleTextureInto(Texture* texture, uint32_t newWidth, uint32_t newHeight,
                            uint8_t* target) {
    if (!resampleAcceptable(texture, newWidth, newHeight)) return 1;
    if (!resampleInto(texture, newWidth, newHeight, target)) return 1;
    takeResampled(texture, newWidth, newHeight, nullptr);
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

namespace {

int32_t defineTexture(Texture* texture, const uint8_t* pixels) {
    const GLint filter = filterFor(texture->filter);
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
    const bool packedRows = pixels != nullptr && rowBytes % 4 != 0;
    if (packedRows) glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), texture->width, texture->height, 0,
                 format, GL_UNSIGNED_BYTE, pixels);
    if (packedRows) glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
    texture->name = name;
    return 0;
}

} // namespace

int32_t uploadTexture(Texture* texture) {
    if (texture->width > textureSizeLimit || texture->height > textureSizeLimit) {
        resampleTexture(texture, textureSizeLimit, textureSizeLimit);
    }
    if (defineTexture(texture, texture->pixels) != 0) return 1;
    std::free(texture->pixels);
    texture->pixels = nullptr;
    return 0;
}

int32_t uploadTextureFrom(Texture* texture, const uint8_t* pixels) {
    if (texture->pixels != nullptr || texture->width > textureSizeLimit ||
        texture->height > textureSizeLimit) {
        return uploadTexture(texture);
    }
    return defineTexture(texture, pixels);
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
