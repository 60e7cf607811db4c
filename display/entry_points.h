// The GL entry points fetched at run time, the renderer state record and the multisample probe.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include <array>
#include <cstdint>

namespace gl {
struct Texture;
struct ShaderProgram;
} // namespace gl

namespace display {

using GlProc = void (*)();

constexpr int32_t entryPointSlots = 32;

// Where a context says it offers a function.
enum class EntryPointSource : uint8_t {
    Core20,           // core since OpenGL 2.0, with shader objects and uniforms
    ArbShaderObjects, // the GL_ARB_shader_objects extension
    ArbMultitexture,  // the GL_ARB_multitexture extension
    // Framebuffer objects: core since OpenGL 3.0, or the GL_ARB_framebuffer_object extension.
    FramebufferObject,
};

// Whether this system calls the function; the unused ones are fetched all the same. Offscreen
// ones are called only when drawing into a framebuffer without a window (the capture tool).
enum class EntryPointUse : uint8_t { Called, Unused, Offscreen };

// Every entry point fetched at run time, in slot order: slot, GL name, function type, what
// advertises it, whether it is called. The slot constants, the name table, the typed accessors
// and the availability rules all come from this one list.
// clang-format off
#define DISPLAY_GL_ENTRY_POINTS(X)                                                                 \
    X(CREATE_PROGRAM,          glCreateProgram,           PFNGLCREATEPROGRAMPROC,           Core20,           Called) \
    X(CREATE_SHADER,           glCreateShader,            PFNGLCREATESHADERPROC,            Core20,           Called) \
    X(SHADER_SOURCE,           glShaderSource,            PFNGLSHADERSOURCEPROC,            Core20,           Called) \
    X(COMPILE_SHADER,          glCompileShader,           PFNGLCOMPILESHADERPROC,           Core20,           Called) \
    X(ATTACH_SHADER,           glAttachShader,            PFNGLATTACHSHADERPROC,            Core20,           Called) \
    X(LINK_PROGRAM,            glLinkProgram,             PFNGLLINKPROGRAMPROC,             Core20,           Called) \
    X(USE_PROGRAM,             glUseProgram,              PFNGLUSEPROGRAMPROC,              Core20,           Called) \
    X(UNIFORM_4FV,             glUniform4fv,              PFNGLUNIFORM4FVPROC,              Core20,           Unused) \
    X(UNIFORM_1I,              glUniform1i,               PFNGLUNIFORM1IPROC,               Core20,           Called) \
    X(GET_UNIFORM_LOCATION,    glGetUniformLocation,      PFNGLGETUNIFORMLOCATIONPROC,      Core20,           Called) \
    X(GET_OBJECT_PARAMETER_IV, glGetObjectParameterivARB, PFNGLGETOBJECTPARAMETERIVARBPROC, ArbShaderObjects, Called) \
    X(GET_INFO_LOG,            glGetInfoLogARB,           PFNGLGETINFOLOGARBPROC,           ArbShaderObjects, Called) \
    X(GET_ATTRIB_LOCATION,     glGetAttribLocation,       PFNGLGETATTRIBLOCATIONPROC,       Core20,           Called) \
    X(UNIFORM_1F,              glUniform1f,               PFNGLUNIFORM1FPROC,               Core20,           Called) \
    X(UNIFORM_2F,              glUniform2f,               PFNGLUNIFORM2FPROC,               Core20,           Called) \
    X(UNIFORM_3F,              glUniform3f,               PFNGLUNIFORM3FPROC,               Core20,           Unused) \
    X(UNIFORM_4F,              glUniform4f,               PFNGLUNIFORM4FPROC,               Core20,           Unused) \
    X(UNIFORM_MATRIX_3FV,      glUniformMatrix3fv,        PFNGLUNIFORMMATRIX3FVPROC,        Core20,           Unused) \
    X(UNIFORM_MATRIX_4FV,      glUniformMatrix4fv,        PFNGLUNIFORMMATRIX4FVPROC,        Core20,           Unused) \
    X(ACTIVE_TEXTURE,          glActiveTextureARB,        PFNGLACTIVETEXTUREARBPROC,        ArbMultitexture,  Called)

// The framebuffer the offscreen context draws into. Not in the window's table: they have slots of
// their own, fetched only for an offscreen context, so the window's fetch stays as it is.
#define DISPLAY_GL_OFFSCREEN_ENTRY_POINTS(X)                                                       \
    X(GEN_FRAMEBUFFERS,          glGenFramebuffers,         PFNGLGENFRAMEBUFFERSPROC,         FramebufferObject, Offscreen) \
    X(BIND_FRAMEBUFFER,          glBindFramebuffer,         PFNGLBINDFRAMEBUFFERPROC,         FramebufferObject, Offscreen) \
    X(DELETE_FRAMEBUFFERS,       glDeleteFramebuffers,      PFNGLDELETEFRAMEBUFFERSPROC,      FramebufferObject, Offscreen) \
    X(GEN_RENDERBUFFERS,         glGenRenderbuffers,        PFNGLGENRENDERBUFFERSPROC,        FramebufferObject, Offscreen) \
    X(BIND_RENDERBUFFER,         glBindRenderbuffer,        PFNGLBINDRENDERBUFFERPROC,        FramebufferObject, Offscreen) \
    X(DELETE_RENDERBUFFERS,      glDeleteRenderbuffers,     PFNGLDELETERENDERBUFFERSPROC,     FramebufferObject, Offscreen) \
    X(RENDERBUFFER_STORAGE,      glRenderbufferStorage,     PFNGLRENDERBUFFERSTORAGEPROC,     FramebufferObject, Offscreen) \
    X(FRAMEBUFFER_RENDERBUFFER,  glFramebufferRenderbuffer, PFNGLFRAMEBUFFERRENDERBUFFERPROC, FramebufferObject, Offscreen) \
    X(CHECK_FRAMEBUFFER_STATUS,  glCheckFramebufferStatus,  PFNGLCHECKFRAMEBUFFERSTATUSPROC,  FramebufferObject, Offscreen)
// clang-format on

#define DISPLAY_SLOT_CONSTANT(slot, name, type, source, use) SLOT_##slot,
enum EntryPointSlot : int32_t { DISPLAY_GL_ENTRY_POINTS(DISPLAY_SLOT_CONSTANT) };
#undef DISPLAY_SLOT_CONSTANT

#define DISPLAY_COUNT_ONE(slot, name, type, source, use) +1
// The slots after these have the empty name, which never resolves.
constexpr int32_t namedEntryPoints = 0 DISPLAY_GL_ENTRY_POINTS(DISPLAY_COUNT_ONE);
#undef DISPLAY_COUNT_ONE
static_assert(namedEntryPoints < entryPointSlots, "the fetch must end on an empty name");

extern const std::array<const char*, entryPointSlots> entryPointNames;
extern GlProc entryPoints[entryPointSlots];

template <EntryPointSlot slot> struct EntryPointType;
#define DISPLAY_SLOT_TYPE(slot, name, type, source, use)                                           \
    template <> struct EntryPointType<SLOT_##slot> { using Function = type; };
DISPLAY_GL_ENTRY_POINTS(DISPLAY_SLOT_TYPE)
#undef DISPLAY_SLOT_TYPE

// The slot's function with the type the list gives it; null if the fetch stopped before it.
template <EntryPointSlot slot> inline typename EntryPointType<slot>::Function entry() {
    return reinterpret_cast<typename EntryPointType<slot>::Function>(entryPoints[slot]);
}

// Written by the operations that bind and use; nothing reads it back.
constexpr int32_t renderStateTextureUnits = 16;
struct RenderState {
    int32_t width;
    int32_t height;
    float fieldOfView;
    float aspect;
    gl::ShaderProgram* currentProgram;
    gl::Texture* boundTexture[renderStateTextureUnits];
};
extern RenderState renderState;

// What the current context says it offers, read once before the fetch.
struct ContextFeatures {
    const char* version;        // GL_VERSION, null without a context
    const char* extensions;     // GL_EXTENSIONS
    bool lookupIsExact = false; // the lookup's null is the only miss (WGL); version and list unused
};

// True when the context advertises the function of that slot (version or extension); never for
// the slots with the empty name.
bool entryPointAdvertised(int32_t slot, const ContextFeatures& features);
// Whole-word search in a space-separated extension list.
bool hasExtension(const char* list, const char* extension);

using ProcLookup = void* (*)(const char* name);
// Fills the table in slot order until the first miss; returns the number of pointers stored.
int32_t fetchEntryPoints(ProcLookup lookup, const ContextFeatures& features);

// Zeroes and fills the renderer state, then fetches the entry points from the current context.
void initialiseRenderState(int32_t width, int32_t height);

// Name of the first entry point the system calls that the table lacks, or null.
const char* firstMissingEntryPoint();

#define DISPLAY_OFFSCREEN_SLOT_CONSTANT(slot, name, type, source, use) OFFSCREEN_SLOT_##slot,
enum OffscreenEntryPointSlot : int32_t {
    DISPLAY_GL_OFFSCREEN_ENTRY_POINTS(DISPLAY_OFFSCREEN_SLOT_CONSTANT) offscreenEntryPointCount
};
#undef DISPLAY_OFFSCREEN_SLOT_CONSTANT

extern const std::array<const char*, offscreenEntryPointCount> offscreenEntryPointNames;
extern GlProc offscreenEntryPoints[offscreenEntryPointCount];

template <OffscreenEntryPointSlot slot> struct OffscreenEntryPointType;
#define DISPLAY_OFFSCREEN_SLOT_TYPE(slot, name, type, source, use)                                 \
    template <> struct OffscreenEntryPointType<OFFSCREEN_SLOT_##slot> { using Function = type; };
DISPLAY_GL_OFFSCREEN_ENTRY_POINTS(DISPLAY_OFFSCREEN_SLOT_TYPE)
#undef DISPLAY_OFFSCREEN_SLOT_TYPE

template <OffscreenEntryPointSlot slot>
inline typename OffscreenEntryPointType<slot>::Function offscreenEntry() {
    return reinterpret_cast<typename OffscreenEntryPointType<slot>::Function>(
        offscreenEntryPoints[slot]);
}

// Fills the offscreen table, each entry the context advertises (or, where the lookup is exact,
// each it resolves); returns the name of the first it lacks, or null when it has them all.
const char* fetchOffscreenEntryPoints(ProcLookup lookup, const ContextFeatures& features);

// The platform's multisample pixel-format chooser, fetched by the probe and never called.
extern GlProc multisampleChooser;
bool multisampleProbe();
// The probe's test on the lists it gathered; plain substring searches.
bool advertisesMultisample(const char* platformExtensions, const char* glExtensions);
// WGL's probe searches one list: the WGL one, or GL's when there is no WGL list.
bool wglAdvertisesMultisample(const char* wglExtensions, const char* glExtensions);

} // namespace display
