// The GL entry points fetched at run time, the renderer state record and the multisample probe.
#include "entry_points.h"

#include "platform.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace display {

namespace {

struct EntryPointFacts {
    const char* name;
    EntryPointSource source;
    EntryPointUse use;
};

#define DISPLAY_SLOT_FACTS(slot, name, type, source, use)                                          \
    {#name, EntryPointSource::source, EntryPointUse::use},
constexpr EntryPointFacts slotFacts[namedEntryPoints] = {
    DISPLAY_GL_ENTRY_POINTS(DISPLAY_SLOT_FACTS)};
constexpr EntryPointFacts offscreenSlotFacts[offscreenEntryPointCount] = {
    DISPLAY_GL_OFFSCREEN_ENTRY_POINTS(DISPLAY_SLOT_FACTS)};
#undef DISPLAY_SLOT_FACTS

// "4.5 (Compatibility Profile) Mesa 22.3.6" -> 4 and 5; "OpenGL ES 3.2 ..." is not desktop GL.
bool versionAtLeast(const char* version, int major, int minor) {
    if (version == nullptr || version[0] < '0' || version[0] > '9') return false;
    char* end = nullptr;
    const long haveMajor = std::strtol(version, &end, 10);
    long haveMinor = 0;
    if (end != nullptr && *end == '.') haveMinor = std::strtol(end + 1, nullptr, 10);
    return haveMajor > major || (haveMajor == major && haveMinor >= minor);
}

bool sourceAdvertised(EntryPointSource source, const ContextFeatures& features) {
    switch (source) {
    case EntryPointSource::Core20: return versionAtLeast(features.version, 2, 0);
    case EntryPointSource::ArbShaderObjects:
        return hasExtension(features.extensions, "GL_ARB_shader_objects");
    case EntryPointSource::ArbMultitexture:
        return hasExtension(features.extensions, "GL_ARB_multitexture");
    case EntryPointSource::FramebufferObject:
        return versionAtLeast(features.version, 3, 0) ||
               hasExtension(features.extensions, "GL_ARB_framebuffer_object");
    }
    return false;
}

} // namespace

const std::array<const char*, entryPointSlots> entryPointNames = [] {
    std::array<const char*, entryPointSlots> names{};
    names.fill("");
    for (int32_t slot = 0; slot < namedEntryPoints; ++slot) names[slot] = slotFacts[slot].name;
    return names;
}();

const std::array<const char*, offscreenEntryPointCount> offscreenEntryPointNames = [] {
    std::array<const char*, offscreenEntryPointCount> names{};
    for (int32_t slot = 0; slot < offscreenEntryPointCount; ++slot)
        names[slot] = offscreenSlotFacts[slot].name;
    return names;
}();

GlProc entryPoints[entryPointSlots];
GlProc offscreenEntryPoints[offscreenEntryPointCount];
RenderState renderState;
GlProc multisampleChooser;

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

bool entryPointAdvertised(int32_t slot, const ContextFeatures& features) {
    if (slot < 0 || slot >= namedEntryPoints) return false;
    return sourceAdvertised(slotFacts[slot].source, features);
}

int32_t fetchEntryPoints(ProcLookup lookup, const ContextFeatures& features) {
    // Under GLX the lookup answers every name with a stub, so the context's own word decides.
    // A table left from an earlier context must not keep pointers past the first miss.
    for (GlProc& entry : entryPoints) entry = nullptr;
    int32_t fetched = 0;
    for (int32_t i = 0; i < entryPointSlots; ++i) {
        void* address = lookup(entryPointNames[i]);
        if (!features.lookupIsExact && !entryPointAdvertised(i, features)) address = nullptr;
        entryPoints[i] = reinterpret_cast<GlProc>(address);
        if (address == nullptr) break;
        ++fetched;
    }
    return fetched;
}

const char* fetchOffscreenEntryPoints(ProcLookup lookup, const ContextFeatures& features) {
    const char* firstMissing = nullptr;
    for (int32_t slot = 0; slot < offscreenEntryPointCount; ++slot) {
        const EntryPointFacts& facts = offscreenSlotFacts[slot];
        void* address = lookup(facts.name);
        if (!features.lookupIsExact && !sourceAdvertised(facts.source, features)) address = nullptr;
        offscreenEntryPoints[slot] = reinterpret_cast<GlProc>(address);
        if (address == nullptr && firstMissing == nullptr) firstMissing = facts.name;
    }
    return firstMissing;
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
    for (int32_t slot = 0; slot < namedEntryPoints; ++slot) {
        if (slotFacts[slot].use == EntryPointUse::Called && entryPoints[slot] == nullptr) {
            return slotFacts[slot].name;
        }
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
