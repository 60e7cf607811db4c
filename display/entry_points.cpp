// The GL entry points fetched at run time, the renderer state record and the multisample probe.
#include "entry_points.h"

#include "platform.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace display {

const char* const entryPointNames[entryPointSlots] = {
    "glCreateProgram",
    "glCreateShader",
    "glShaderSource",
    "glCompileShader",
    "glAttachShader",
    "glLinkProgram",
    "glUseProgram",
    "glUniform4fv",
    "glUniform1i",
    "glGetUniformLocation",
    "glGetObjectParameterivARB",
    "glGetInfoLogARB",
    "glGetAttribLocation",
    "glUniform1f",
    "glUniform2f",
    "glUniform3f",
    "glUniform4f",
    "glUniformMatrix3fv",
    "glUniformMatrix4fv",
    "glActiveTextureARB",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
};

GlProc entryPoints[entryPointSlots];
RenderState renderState;
GlProc multisampleChooser;

namespace {

// Slots whose functions this system calls; the others are fetched but never used.
constexpr EntryPointSlot calledSlots[] = {
    SLOT_CREATE_PROGRAM,       SLOT_CREATE_SHADER,
    SLOT_SHADER_SOURCE,        SLOT_COMPILE_SHADER,
    SLOT_ATTACH_SHADER,        SLOT_LINK_PROGRAM,
    SLOT_USE_PROGRAM,          SLOT_UNIFORM_1I,
    SLOT_GET_UNIFORM_LOCATION, SLOT_GET_OBJECT_PARAMETER_IV,
    SLOT_GET_INFO_LOG,         SLOT_GET_ATTRIB_LOCATION,
    SLOT_UNIFORM_1F,           SLOT_UNIFORM_2F,
    SLOT_ACTIVE_TEXTURE,
};

// "4.5 (Compatibility Profile) Mesa 22.3.6" -> 4 and 5; "OpenGL ES 3.2 ..." is not desktop GL.
bool versionAtLeast(const char* version, int major, int minor) {
    if (version == nullptr || version[0] < '0' || version[0] > '9') return false;
    char* end = nullptr;
    const long haveMajor = std::strtol(version, &end, 10);
    long haveMinor = 0;
    if (end != nullptr && *end == '.') haveMinor = std::strtol(end + 1, nullptr, 10);
    return haveMajor > major || (haveMajor == major && haveMinor >= minor);
}

bool namedIn(const char* name, const char* const* list, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (std::strcmp(name, list[i]) == 0) return true;
    }
    return false;
}

} // namespace

bool hasExtension(const char* list, const char* extension) {
    if (list == nullptr) return false;
    const size_t length = std::strlen(extension);
    if (length == 0) return false;
    for (const char* at = std::strstr(list, extension); at != nullptr;
         at = std::strstr(at + 1, extension)) {
        const bool startsWord = at == list || at[-1] == ' ';
        const bool endsWord = at[length] == ' ' || at[length] == '\0';
        if (startsWord && endsWord) return true;
    }
    return false;
}

bool entryPointAdvertised(const char* name, const ContextFeatures& features) {
    static const char* const shaderObjectQueries[] = {"glGetObjectParameterivARB",
                                                      "glGetInfoLogARB"};
    static const char* const multitexture[] = {"glActiveTextureARB"};
    if (name[0] == '\0') return false;
    if (namedIn(name, shaderObjectQueries, 2)) {
        return hasExtension(features.extensions, "GL_ARB_shader_objects");
    }
    if (namedIn(name, multitexture, 1)) {
        return hasExtension(features.extensions, "GL_ARB_multitexture");
    }
    // The remaining names are core since 2.0, with shader objects and uniforms.
    if (std::strncmp(name, "gl", 2) == 0) return versionAtLeast(features.version, 2, 0);
    return false;
}

int32_t fetchEntryPoints(ProcLookup lookup, const ContextFeatures& features) {
    // Under GLX the lookup answers every name with a stub, so the context's own word decides.
    // A table left from an earlier context must not keep pointers past the first miss.
    for (GlProc& entry : entryPoints) entry = nullptr;
    int32_t fetched = 0;
    for (int32_t i = 0; i < entryPointSlots; ++i) {
        void* address = lookup(entryPointNames[i]);
        if (!features.lookupIsExact && !entryPointAdvertised(entryPointNames[i], features)) {
            address = nullptr;
        }
        entryPoints[i] = reinterpret_cast<GlProc>(address);
        if (address == nullptr) break;
        ++fetched;
    }
    return fetched;
}

void initialiseRenderState(int32_t width, int32_t height) {
    std::memset(&renderState, 0, sizeof renderState);
    renderState.width = width;
    renderState.height = height;
    renderState.fieldOfView = 45.0f;
    renderState.aspect = 1.3333334f;
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const auto* extensions =
        version != nullptr ? reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)) : nullptr;
    fetchEntryPoints(platformGetProcAddress, {version, extensions, platformSpeaksWgl()});
}

const char* firstMissingEntryPoint() {
    for (EntryPointSlot slot : calledSlots) {
        if (entryPoints[slot] == nullptr) return entryPointNames[slot];
    }
    return nullptr;
}

bool advertisesMultisample(const char* platformExtensions, const char* glExtensions) {
    for (const char* list : {platformExtensions, glExtensions}) {
        if (list == nullptr) continue;
        if (std::strstr(list, "WGL_ARB_multisample") != nullptr ||
            std::strstr(list, "GLX_ARB_multisample") != nullptr ||
            std::strstr(list, "GL_ARB_multisample") != nullptr) {
            return true;
        }
    }
    return false;
}

bool wglAdvertisesMultisample(const char* wglExtensions, const char* glExtensions) {
    const char* list = wglExtensions != nullptr ? wglExtensions : glExtensions;
    return list != nullptr && std::strstr(list, "WGL_ARB_multisample") != nullptr;
}

bool multisampleProbe() {
    const char* platformList = platformExtensionString();
    if (platformSpeaksWgl()) {
        // GL's list is asked for only when WGL has none.
        const auto* glList = platformList == nullptr
                                 ? reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS))
                                 : nullptr;
        if (!wglAdvertisesMultisample(platformList, glList)) return false;
    } else {
        // The window system's own list stands where the WGL one would be.
        const auto* glList = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
        if (platformList == nullptr && glList == nullptr) return false;
        if (!advertisesMultisample(platformList, glList)) return false;
    }
    multisampleChooser =
        reinterpret_cast<GlProc>(platformGetProcAddress(platformMultisampleChooserName()));
    return multisampleChooser != nullptr;
}

} // namespace display
