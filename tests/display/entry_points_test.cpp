// The entry-point fetch, its availability rules and the multisample test, without a GL context.
#include "display/entry_points.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using display::entryPoints;
using display::fetchEntryPoints;

const char* const mesaExtensions =
    "GL_ARB_multisample GL_ARB_multitexture GL_ARB_shader_objects GL_ARB_vertex_shader";

std::vector<std::string> lookedUp;
const char* unresolvedName = nullptr;
char fakeFunction;

// Like GLX: every name resolves, unless the test says one does not.
void* stubLookup(const char* name) {
    lookedUp.emplace_back(name);
    if (unresolvedName != nullptr && std::strcmp(name, unresolvedName) == 0) return nullptr;
    return &fakeFunction;
}

class EntryPointFetch : public ::testing::Test {
  protected:
    void SetUp() override {
        lookedUp.clear();
        unresolvedName = nullptr;
        for (auto& entry : entryPoints) entry = reinterpret_cast<display::GlProc>(&fakeFunction);
    }
};

int32_t nonNullSlots() {
    int32_t count = 0;
    for (auto entry : entryPoints) count += entry != nullptr ? 1 : 0;
    return count;
}

TEST_F(EntryPointFetch, AllTwentyResolveOnAFullContext) {
    const int32_t fetched =
        fetchEntryPoints(stubLookup, {"4.5 (Compatibility Profile)", mesaExtensions});
    EXPECT_EQ(fetched, 20);
    EXPECT_EQ(nonNullSlots(), 20);
    for (int32_t i = 20; i < display::entryPointSlots; ++i) EXPECT_EQ(entryPoints[i], nullptr);
    // The empty name of slot 20 is asked for and taken as a miss, even though it "resolves".
    ASSERT_EQ(lookedUp.size(), 21u);
    EXPECT_EQ(lookedUp[0], "glCreateProgram");
    EXPECT_EQ(lookedUp[19], "glActiveTextureARB");
    EXPECT_EQ(lookedUp[20], "");
    EXPECT_EQ(display::firstMissingEntryPoint(), nullptr);
}

TEST(EntryPointList, TwentyNamesInSlotOrderThenEmptyOnes) {
    EXPECT_EQ(display::namedEntryPoints, 20);
    EXPECT_STREQ(display::entryPointNames[display::SLOT_CREATE_PROGRAM], "glCreateProgram");
    EXPECT_STREQ(display::entryPointNames[display::SLOT_GET_ATTRIB_LOCATION],
                 "glGetAttribLocation");
    EXPECT_STREQ(display::entryPointNames[display::SLOT_ACTIVE_TEXTURE], "glActiveTextureARB");
    EXPECT_EQ(display::SLOT_ACTIVE_TEXTURE, 19);
    for (int32_t i = 0; i < display::entryPointSlots; ++i) {
        ASSERT_NE(display::entryPointNames[i], nullptr) << i;
        EXPECT_EQ(display::entryPointNames[i][0] == '\0', i >= 20) << i;
        EXPECT_FALSE(i >= 20 && display::entryPointAdvertised(i, {"4.6", mesaExtensions})) << i;
    }
    static_assert(std::is_same_v<display::EntryPointType<display::SLOT_UNIFORM_2F>::Function,
                                 PFNGLUNIFORM2FPROC>);
}

TEST_F(EntryPointFetch, AMissStopsTheFetchAndClearsTheRest) {
    unresolvedName = "glGetAttribLocation";
    EXPECT_EQ(fetchEntryPoints(stubLookup, {"2.1", mesaExtensions}), 12);
    for (int32_t i = 12; i < display::entryPointSlots; ++i) EXPECT_EQ(entryPoints[i], nullptr) << i;
    EXPECT_EQ(lookedUp.size(), 13u);
    EXPECT_STREQ(display::firstMissingEntryPoint(), "glGetAttribLocation");
}

TEST_F(EntryPointFetch, AvailabilityComesFromWhatTheContextAdvertises) {
    EXPECT_EQ(fetchEntryPoints(stubLookup, {"1.5 Mesa", mesaExtensions}), 0);
    EXPECT_STREQ(display::firstMissingEntryPoint(), "glCreateProgram");

    EXPECT_EQ(fetchEntryPoints(stubLookup, {"3.0", "GL_ARB_multitexture"}), 10);
    EXPECT_STREQ(display::firstMissingEntryPoint(), "glGetObjectParameterivARB");

    EXPECT_EQ(fetchEntryPoints(stubLookup, {"4.5", "GL_ARB_shader_objects"}), 19);
    EXPECT_STREQ(display::firstMissingEntryPoint(), "glActiveTextureARB");

    EXPECT_EQ(fetchEntryPoints(stubLookup, {nullptr, nullptr}), 0);
    EXPECT_EQ(fetchEntryPoints(stubLookup, {"OpenGL ES 3.2 Mesa", mesaExtensions}), 0);
}

TEST_F(EntryPointFetch, AnUnusedSlotMissingStillStopsTheCalledOnesAfterIt) {
    unresolvedName = "glUniform4fv";
    EXPECT_EQ(fetchEntryPoints(stubLookup, {"2.0", mesaExtensions}), 7);
    EXPECT_STREQ(display::firstMissingEntryPoint(), "glUniform1i");
}

// The offscreen framebuffer's functions come from the same list, into a table of their own: the
// window's fetch neither asks for them nor loses its entries to their fetch.
TEST_F(EntryPointFetch, OffscreenFramebufferEntriesHaveATableOfTheirOwn) {
    EXPECT_EQ(display::offscreenEntryPointCount, 9);
    EXPECT_STREQ(display::offscreenEntryPointNames[display::OFFSCREEN_SLOT_GEN_FRAMEBUFFERS],
                 "glGenFramebuffers");
    EXPECT_STREQ(
        display::offscreenEntryPointNames[display::OFFSCREEN_SLOT_CHECK_FRAMEBUFFER_STATUS],
        "glCheckFramebufferStatus");
    static_assert(std::is_same_v<display::OffscreenEntryPointType<
                                     display::OFFSCREEN_SLOT_FRAMEBUFFER_RENDERBUFFER>::Function,
                                 PFNGLFRAMEBUFFERRENDERBUFFERPROC>);

    fetchEntryPoints(stubLookup, {"4.5 (Compatibility Profile)", mesaExtensions});
    for (const std::string& name : lookedUp) EXPECT_EQ(name.find("buffer"), std::string::npos);
    lookedUp.clear();
    EXPECT_EQ(display::fetchOffscreenEntryPoints(stubLookup, {"3.0 Mesa", ""}), nullptr);
    ASSERT_EQ(lookedUp.size(), 9u);
    for (int32_t i = 0; i < display::offscreenEntryPointCount; ++i) {
        EXPECT_EQ(lookedUp[static_cast<size_t>(i)], display::offscreenEntryPointNames[i]);
        EXPECT_NE(display::offscreenEntryPoints[i], nullptr) << i;
    }
    EXPECT_EQ(nonNullSlots(), 20);
    EXPECT_EQ(display::firstMissingEntryPoint(), nullptr);

    // Before 3.0 only the extension offers them; without it every one is a miss.
    EXPECT_STREQ(display::fetchOffscreenEntryPoints(stubLookup, {"2.1 Mesa", mesaExtensions}),
                 "glGenFramebuffers");
    for (auto entry : display::offscreenEntryPoints) EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(display::fetchOffscreenEntryPoints(
                  stubLookup, {"2.1 Mesa", "GL_ARB_multitexture GL_ARB_framebuffer_object"}),
              nullptr);
    // Where the lookup is exact, its null alone is a miss, and the others are still fetched.
    unresolvedName = "glRenderbufferStorage";
    EXPECT_STREQ(display::fetchOffscreenEntryPoints(stubLookup, {nullptr, nullptr, true}),
                 "glRenderbufferStorage");
    EXPECT_EQ(display::offscreenEntryPoints[display::OFFSCREEN_SLOT_RENDERBUFFER_STORAGE], nullptr);
    EXPECT_NE(display::offscreenEntryPoints[display::OFFSCREEN_SLOT_CHECK_FRAMEBUFFER_STATUS],
              nullptr);
}

TEST(EntryPointRules, ExtensionsMatchWholeNamesOnly) {
    EXPECT_TRUE(display::hasExtension("GL_A GL_ARB_multitexture GL_B", "GL_ARB_multitexture"));
    EXPECT_TRUE(display::hasExtension("GL_ARB_multitexture", "GL_ARB_multitexture"));
    EXPECT_FALSE(display::hasExtension("GL_ARB_multitexture_x", "GL_ARB_multitexture"));
    EXPECT_FALSE(display::hasExtension("XGL_ARB_multitexture", "GL_ARB_multitexture"));
    EXPECT_FALSE(display::hasExtension(nullptr, "GL_ARB_multitexture"));
    EXPECT_FALSE(display::hasExtension("GL_A", ""));
}

TEST(EntryPointRules, MultisampleIsAPlainSubstringInEitherList) {
    EXPECT_TRUE(display::advertisesMultisample("WGL_EXT_x WGL_ARB_multisampleZ", nullptr));
    EXPECT_TRUE(
        display::advertisesMultisample("GLX_ARB_create_context GLX_ARB_multisample", nullptr));
    EXPECT_TRUE(display::advertisesMultisample(nullptr, "GL_ARB_depth GL_ARB_multisample"));
    EXPECT_TRUE(display::advertisesMultisample("EGL_KHR_image", "GL_ARB_multisample"));
    EXPECT_FALSE(display::advertisesMultisample("EGL_KHR_image", "GL_ARB_multitexture"));
    EXPECT_FALSE(display::advertisesMultisample(nullptr, nullptr));
}

} // namespace
