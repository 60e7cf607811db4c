// The few OpenGL 1.1 calls that WebGL lacks, as the mesh uses them: immediate-mode vertices
// between glBegin and glEnd, drawn from a buffer through the current program's attributes.
//
// WebGL has no fixed-function inputs, so the vertex reaches the shader as the attribute
// "zep_Vertex" and the texture coordinate as "zep_MultiTexCoord0", the names the shader program
// record looks up; a program that declares neither draws nothing. Normals have no attribute in
// this system's shaders and are dropped.
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>

namespace {

// Far more than the quad's six; vertices past it are dropped.
constexpr int32_t vertexCapacity = 256;
constexpr int32_t floatsPerVertex = 5; // x, y, z, s, t

float vertices[vertexCapacity * floatsPerVertex];
int32_t vertexCount;
GLenum primitive;
float texcoord[2];
GLuint vertexBuffer;

void enableAttribute(GLint location, GLint size, int32_t offsetFloats) {
    if (location < 0) return;
    glEnableVertexAttribArray(static_cast<GLuint>(location));
    glVertexAttribPointer(static_cast<GLuint>(location), size, GL_FLOAT, GL_FALSE,
                          floatsPerVertex * sizeof(float),
                          reinterpret_cast<const void*>(offsetFloats * sizeof(float)));
}

void disableAttribute(GLint location) {
    if (location >= 0) glDisableVertexAttribArray(static_cast<GLuint>(location));
}

} // namespace

extern "C" {

void glBegin(GLenum mode) {
    primitive = mode;
    vertexCount = 0;
}

void glTexCoord2fv(const GLfloat* v) {
    texcoord[0] = v[0];
    texcoord[1] = v[1];
}

void glNormal3fv(const GLfloat* /*v*/) {}

void glVertex3fv(const GLfloat* v) {
    if (vertexCount == vertexCapacity) return;
    float* at = vertices + vertexCount * floatsPerVertex;
    at[0] = v[0];
    at[1] = v[1];
    at[2] = v[2];
    at[3] = texcoord[0];
    at[4] = texcoord[1];
    ++vertexCount;
}

void glEnd() {
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    if (program == 0 || vertexCount == 0) return;
    const auto name = static_cast<GLuint>(program);
    const GLint position = glGetAttribLocation(name, "zep_Vertex");
    if (position < 0) return;
    const GLint coordinate = glGetAttribLocation(name, "zep_MultiTexCoord0");
    if (vertexBuffer == 0) glGenBuffers(1, &vertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, vertexCount * floatsPerVertex * sizeof(float), vertices,
                 GL_STREAM_DRAW);
    enableAttribute(position, 3, 0);
    enableAttribute(coordinate, 2, 3);
    glDrawArrays(primitive, 0, vertexCount);
    disableAttribute(position);
    disableAttribute(coordinate);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

// No array is ever enabled through these; WebGL's attribute arrays are switched in glEnd.
void glDisableClientState(GLenum /*array*/) {}

} // extern "C"
