// The shader program: compile, link, print the logs, cache locations, set uniforms by name.
#pragma once

#include <cstdint>

namespace gl {

constexpr int32_t shaderLocationSlots = 16;
constexpr int32_t shaderAttributeNames = 5;
constexpr int32_t shaderUniformNames = 2;

struct ShaderProgram {
    const char* vertexSource;
    const char* fragmentSource;
    uint32_t program;
    uint32_t vertexShader;
    uint32_t fragmentShader;
    int32_t attributeLocations[shaderLocationSlots];
    int32_t uniformLocations[shaderLocationSlots];
};

extern const char* const attributeNames[shaderAttributeNames];
extern const char* const uniformNames[shaderUniformNames];

// The demo's pass-through vertex shader and its flash fragment shader.
extern const char demoVertexSource[];
extern const char demoFragmentSource[];

// 0 on success, 1 on failure; every compile and link log is printed to standard output.
int32_t buildShaderProgram(ShaderProgram* shader);
void useShaderProgram(ShaderProgram* shader);
void unuseShaderProgram(ShaderProgram* shader);
// The program must be current; each looks its location up anew.
void setUniform1i(ShaderProgram* shader, const char* name, int32_t value);
void setUniform1f(ShaderProgram* shader, const char* name, float value);
void setUniform2f(ShaderProgram* shader, const char* name, float x, float y);

} // namespace gl
