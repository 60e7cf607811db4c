// The shader program: compile, link, print the logs, cache locations, set uniforms by name.
#include "shader_program.h"

#include "display/entry_points.h"

#include <cstdio>

namespace gl {

using display::entry;

const char* const attributeNames[shaderAttributeNames] = {"zep_Vertex", "zep_MultiTexCoord0",
                                                          "zep_Color", "zep_Normal", "zep_Tangent"};
const char* const uniformNames[shaderUniformNames] = {"zep_ModelviewMatrix",
                                                      "zep_ProjectionMatrix"};

#if defined(__EMSCRIPTEN__)
// The same two shaders in GLSL ES 1.00, for WebGL: without fixed-function inputs the vertex comes
// in as "zep_Vertex", and since no matrix is ever set, ftransform() is that vertex unchanged; the
// fragment shader states its precision.
const char demoVertexSource[] =
    "attribute vec4 zep_Vertex;\nvarying vec2 tcoord;\nuniform vec2 resolution;\nvoid "
    "main(){gl_Position = zep_Vertex;tcoord = zep_Vertex.xy*0.5+0.5;tcoord.x = tcoord.x;tcoord.y "
    "= 1.-tcoord.y;}";

const char demoFragmentSource[] =
    "#ifdef GL_FRAGMENT_PRECISION_HIGH\nprecision highp float;\n#else\nprecision mediump "
    "float;\n#endif\nvarying vec2 tcoord;\nuniform sampler2D textura;\nuniform float "
    "feherGeci;\nvoid main(void) {\ngl_FragColor.rg = tcoord.st;\nvec3 sample = "
    "texture2D(textura, fract(abs(tcoord.st))).rgb;vec3 inverz = vec3(1.,1.,1.) - "
    "sample;gl_FragColor.rgb = mix(inverz, sample, clamp(feherGeci, 0., 1.));gl_FragColor.a = "
    "1.;}";
#else
const char demoVertexSource[] =
    "varying vec2 tcoord;\nuniform vec2 resolution;\nvoid main(){gl_Position = "
    "ftransform();tcoord = gl_Vertex.xy*0.5+0.5;tcoord.x = tcoord.x;tcoord.y = 1.-tcoord.y;}";

// The clamp bounds are float literals: GLSL 1.10 has no clamp(float, int, int), and strict
// compilers refuse the integer form.
const char demoFragmentSource[] =
    "varying vec2 tcoord;\nuniform sampler2D textura;\nuniform float feherGeci;\nvoid "
    "main(void) {\ngl_FragColor.rg = tcoord.st;\nvec3 sample = texture2D(textura, "
    "fract(abs(tcoord.st))).rgb;vec3 inverz = vec3(1.,1.,1.) - sample;gl_FragColor.rgb = "
    "mix(inverz, sample, clamp(feherGeci, 0., 1.));gl_FragColor.a = 1.;}";
#endif

namespace {

constexpr int32_t infoLogCapacity = 4096;

bool checkObject(uint32_t object, GLenum statusName, const char* format) {
    GLint status = 0;
    entry<display::SLOT_GET_OBJECT_PARAMETER_IV>()(object, statusName, &status);
    char log[infoLogCapacity];
    log[0] = '\0';
    entry<display::SLOT_GET_INFO_LOG>()(object, infoLogCapacity - 1, nullptr, log);
    std::printf(format, static_cast<int>(object), log);
    std::fflush(stdout);
    return status != 0;
}

bool compileShader(uint32_t* object, GLenum type, const char* const* source) {
    *object = entry<display::SLOT_CREATE_SHADER>()(type);
    entry<display::SLOT_SHADER_SOURCE>()(*object, 1, source, nullptr);
    entry<display::SLOT_COMPILE_SHADER>()(*object);
    return checkObject(*object, GL_COMPILE_STATUS, "%d:shader:\n%s\n");
}

} // namespace

int32_t buildShaderProgram(ShaderProgram* shader) {
    if (shader->fragmentSource == nullptr || shader->vertexSource == nullptr) return 1;
    if (!compileShader(&shader->vertexShader, GL_VERTEX_SHADER, &shader->vertexSource)) return 1;
    if (!compileShader(&shader->fragmentShader, GL_FRAGMENT_SHADER, &shader->fragmentSource)) {
        return 1;
    }
    shader->program = entry<display::SLOT_CREATE_PROGRAM>()();
    const auto attach = entry<display::SLOT_ATTACH_SHADER>();
    attach(shader->program, shader->vertexShader);
    attach(shader->program, shader->fragmentShader);
    entry<display::SLOT_LINK_PROGRAM>()(shader->program);
    if (!checkObject(shader->program, GL_LINK_STATUS, "%d:program:\n%s\n")) return 1;
    const auto uniformLocation = entry<display::SLOT_GET_UNIFORM_LOCATION>();
    for (int32_t i = 0; i < shaderUniformNames; ++i) {
        shader->uniformLocations[i] = uniformLocation(shader->program, uniformNames[i]);
    }
    const auto attributeLocation = entry<display::SLOT_GET_ATTRIB_LOCATION>();
    for (int32_t i = 0; i < shaderAttributeNames; ++i) {
        shader->attributeLocations[i] = attributeLocation(shader->program, attributeNames[i]);
    }
    return 0;
}

void useShaderProgram(ShaderProgram* shader) {
    entry<display::SLOT_USE_PROGRAM>()(shader->program);
    display::renderState.currentProgram = shader;
}

void unuseShaderProgram(ShaderProgram* /*shader*/) {
    entry<display::SLOT_USE_PROGRAM>()(0);
    display::renderState.currentProgram = nullptr;
}

namespace {
GLint locationOf(ShaderProgram* shader, const char* name) {
    return entry<display::SLOT_GET_UNIFORM_LOCATION>()(shader->program, name);
}
} // namespace

void setUniform1i(ShaderProgram* shader, const char* name, int32_t value) {
    entry<display::SLOT_UNIFORM_1I>()(locationOf(shader, name), value);
}

void setUniform1f(ShaderProgram* shader, const char* name, float value) {
    entry<display::SLOT_UNIFORM_1F>()(locationOf(shader, name), value);
}

void setUniform2f(ShaderProgram* shader, const char* name, float x, float y) {
    entry<display::SLOT_UNIFORM_2F>()(locationOf(shader, name), x, y);
}

} // namespace gl
