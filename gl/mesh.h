// A small vertex set drawn in immediate mode, optionally indexed; the demo's one is the quad.
#pragma once

#include <GL/gl.h>

#include <cstdint>

namespace gl {

struct Mesh {
    const float* positions;  // 3 floats per vertex
    int32_t positionCount;   // floats in positions; not consulted when drawing
    const float* normals;    // 3 floats per vertex, or null
    const float* texcoords;  // 2 floats per vertex, or null
    const uint16_t* indices; // or null for non-indexed drawing
    int32_t count;           // indices (indexed) or vertices (non-indexed) to draw
    int32_t primitive;       // 0 triangles, 1 triangle fan
};

extern const float quadPositions[12];
extern const float quadTexcoords[8];
extern const uint16_t quadIndices[6];

GLenum primitiveFor(int32_t selector);
void drawMesh(const Mesh* mesh);
void disableClientArrays(const Mesh* mesh);

} // namespace gl
