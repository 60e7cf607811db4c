// A small vertex set drawn in immediate mode, optionally indexed; the demo's one is the quad.
#include "mesh.h"

namespace gl {

const float quadPositions[12] = {-1.0f, -1.0f, 0.0f, 1.0f,  -1.0f, 0.0f,
                                 1.0f,  1.0f,  0.0f, -1.0f, 1.0f,  0.0f};
const float quadTexcoords[8] = {0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f};
const uint16_t quadIndices[6] = {0, 1, 2, 2, 3, 0};

GLenum primitiveFor(int32_t selector) {
    return selector == 1 ? GL_TRIANGLE_FAN : GL_TRIANGLES;
}

void drawMesh(const Mesh* mesh) {
    if (mesh->positions == nullptr) return;
    glBegin(primitiveFor(mesh->primitive));
    for (int32_t i = 0; i < mesh->count; ++i) {
        const int32_t k = mesh->indices != nullptr ? mesh->indices[i] : i;
        if (mesh->normals != nullptr) glNormal3fv(mesh->normals + 3 * k);
        if (mesh->texcoords != nullptr) glTexCoord2fv(mesh->texcoords + 2 * k);
        glVertex3fv(mesh->positions + 3 * k);
    }
    glEnd();
}

void disableClientArrays(const Mesh* mesh) {
    if (mesh->positions == nullptr) return;
    glDisableClientState(GL_VERTEX_ARRAY);
    if (mesh->normals != nullptr) glDisableClientState(GL_NORMAL_ARRAY);
    if (mesh->texcoords != nullptr) glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

} // namespace gl
