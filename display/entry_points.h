// The GL entry points fetched at run time, the renderer state record and the multisample probe.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>

namespace gl {
struct Texture;
struct ShaderProgram;
} // namespace gl

namespace display {

using GlProc = void (*)();

constexpr int32_t entryPointSlots = 32;
constexpr int32_t namedEntryPoints = 20;

enum EntryPointSlot : int32_t {
    SLOT_CREATE_PROGRAM = 0,
    SLOT_CREATE_SHADER = 1,
    SLOT_SHADER_SOURCE = 2,
    SLOT_COMPILE_SHADER = 3,
    SLOT_ATTACH_SHADER = 4,
    SLOT_LINK_PROGRAM = 5,
    SLOT_USE_PROGRAM = 6,
    SLOT_UNIFORM_4FV = 7,
    SLOT_UNIFORM_1I = 8,
    SLOT_GET_UNIFORM_LOCATION = 9,
    SLOT_GET_OBJECT_PARAMETER_IV = 10,
    SLOT_GET_INFO_LOG = 11,
    SLOT_GET_ATTRIB_LOCATION = 12,
    SLOT_UNIFORM_1F = 13,
    SLOT_UNIFORM_2F = 14,
    SLOT_UNIFORM_3F = 15,
    SLOT_UNIFORM_4F = 16,
    SLOT_UNIFORM_MATRIX_3FV = 17,
    SLOT_UNIFORM_MATRIX_4FV = 18,
    SLOT_ACTIVE_TEXTURE = 19,
};

extern const char* const entryPointNames[entryPointSlots];
extern GlProc entryPoints[entryPointSlots];

template <typename Function> inline Function entry(EntryPointSlot slot) {
    return reinterpret_cast<Function>(entryPoints[slot]);
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
    const char* version;    // GL_VERSION, null without a context
    const char* extensions; // GL_EXTENSIONS
    bool lookupIsExact;     // the lookup's null is the only miss (WGL); version and list unused
};

// True when the context advertises the function of that name (version or extension).
bool entryPointAdvertised(const char* name, const ContextFeatures& features);
// Whole-word search in a space-separated extension list.
bool hasExtension(const char* list, const char* extension);

using ProcLookup = void* (*)(const char* name);
// Fills the table in slot order until the first miss; returns the number of pointers stored.
int32_t fetchEntryPoints(ProcLookup lookup, const ContextFeatures& features);

// Zeroes and fills the renderer state, then fetches the entry points from the current context.
void initialiseRenderState(int32_t width, int32_t height);

// Name of the first entry point the system calls that the table lacks, or null.
const char* firstMissingEntryPoint();

// The platform's multisample pixel-format chooser, fetched by the probe and never called.
extern GlProc multisampleChooser;
bool multisampleProbe();
// The probe's test on the lists it gathered; plain substring searches.
bool advertisesMultisample(const char* platformExtensions, const char* glExtensions);
// WGL's probe searches one list: the WGL one, or GL's when there is no WGL list.
bool wglAdvertisesMultisample(const char* wglExtensions, const char* glExtensions);

} // namespace display
