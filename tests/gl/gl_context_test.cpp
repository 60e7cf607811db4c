// Textures, the quad and the shader program on a real GL context (SDL's offscreen EGL driver).
#include "display/entry_points.h"
#include "display/platform.h"
#include "display/window.h"
#include "driver/image_table.h"
#include "driver/show.h"
#include "gl/mesh.h"
#include "gl/shader_program.h"
#include "gl/texture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr int32_t viewportSize = 512; // one screen pixel per texel of the resampled pictures

class GlContext : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        ASSERT_TRUE(display::platformStart());
        const display::PixelFormatDescriptor& d = display::pixelFormatDescriptor;
        window = display::platformCreateWindow(
            "gl tests", viewportSize, viewportSize,
            {d.cColorBits, d.cAlphaBits, d.cDepthBits, d.cStencilBits, true});
        ASSERT_NE(window, nullptr);
        context = display::platformCreateContext(window);
        ASSERT_NE(context, nullptr);
        ASSERT_TRUE(display::platformMakeCurrent(window, context));
        display::initialiseRenderState(viewportSize, viewportSize);
        ASSERT_EQ(display::firstMissingEntryPoint(), nullptr);
        glGetIntegerv(GL_VIEWPORT, defaultViewport);
        // The comparisons want one screen pixel per texel; the coverage test restores this.
        glViewport(0, 0, viewportSize, viewportSize);
    }
    static void TearDownTestSuite() {
        display::platformMakeCurrent(window, nullptr);
        display::platformDeleteContext(context);
        display::platformDestroyWindow(window);
        display::platformStop();
    }
    static std::vector<uint8_t> readScreen() {
        std::vector<uint8_t> pixels(static_cast<size_t>(viewportSize) * viewportSize * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, viewportSize, viewportSize, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }
    static inline GLint defaultViewport[4] = {};
    static inline void* window = nullptr;
    static inline void* context = nullptr;
};

gl::Texture* freshTexture() {
    return static_cast<gl::Texture*>(std::calloc(1, sizeof(gl::Texture)));
}

int32_t countMatches(const std::string& text, const std::string& pattern) {
    const std::regex expression(pattern);
    return static_cast<int32_t>(std::distance(
        std::sregex_iterator(text.begin(), text.end(), expression), std::sregex_iterator()));
}

TEST_F(GlContext, TwentyEntryPointsAreFetched) {
    int32_t fetched = 0;
    for (auto entry : display::entryPoints) fetched += entry != nullptr ? 1 : 0;
    EXPECT_EQ(fetched, 20);
    EXPECT_EQ(display::renderState.width, viewportSize);
    EXPECT_EQ(display::renderState.fieldOfView, 45.0f);
    uint32_t aspectBits = 0;
    std::memcpy(&aspectBits, &display::renderState.aspect, 4);
    EXPECT_EQ(aspectBits, 0x3FAAAAABu);
}

TEST_F(GlContext, DemoShadersBuildWithThreeLogsAndNoCachedLocations) {
    gl::ShaderProgram shader{};
    testing::internal::CaptureStdout();
    driver::buildDemoShader(&shader);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(shader.program, 0u);
    const std::string expectedStart = std::to_string(shader.vertexShader) + ":shader:\n";
    EXPECT_EQ(out.rfind(expectedStart, 0), 0u) << out;
    EXPECT_NE(out.find("\n" + std::to_string(shader.fragmentShader) + ":shader:\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n" + std::to_string(shader.program) + ":program:\n"), std::string::npos)
        << out;
    EXPECT_EQ(countMatches(out, "(^|\n)[0-9]+:shader:\n"), 2) << out;
    EXPECT_EQ(countMatches(out, "(^|\n)[0-9]+:program:\n"), 1) << out;
    for (int32_t i = 0; i < gl::shaderUniformNames; ++i) EXPECT_EQ(shader.uniformLocations[i], -1);
    for (int32_t i = 0; i < gl::shaderAttributeNames; ++i) {
        EXPECT_EQ(shader.attributeLocations[i], -1);
    }
    for (int32_t i = gl::shaderAttributeNames; i < gl::shaderLocationSlots; ++i) {
        EXPECT_EQ(shader.attributeLocations[i], 0);
    }
    EXPECT_EQ(gl::buildShaderProgram(&shader), 0);
}

TEST_F(GlContext, IntegerClampBoundsAreWhatStrictCompilersRefuse) {
    // The form the mended source replaces: it fails here, so the picture would be lost.
    std::string unmended = gl::demoFragmentSource;
    const size_t at = unmended.find("clamp(feherGeci, 0., 1.)");
    ASSERT_NE(at, std::string::npos);
    unmended.replace(at, 24, "clamp(feherGeci, 0, 1)");
    gl::ShaderProgram shader{};
    shader.vertexSource = gl::demoVertexSource;
    shader.fragmentSource = unmended.c_str();
    testing::internal::CaptureStdout();
    EXPECT_EQ(gl::buildShaderProgram(&shader), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countMatches(out, "(^|\n)[0-9]+:shader:\n"), 2) << out;
    EXPECT_EQ(countMatches(out, ":program:"), 0) << out;
    EXPECT_EQ(shader.program, 0u);
}

TEST_F(GlContext, AFailedVertexShaderStopsTheBuild) {
    gl::ShaderProgram shader{};
    shader.vertexSource = "void main(){ this is not glsl }";
    shader.fragmentSource = gl::demoFragmentSource;
    testing::internal::CaptureStdout();
    EXPECT_EQ(gl::buildShaderProgram(&shader), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countMatches(out, "(^|\n)[0-9]+:shader:\n"), 1) << out;
    EXPECT_GT(out.size(), std::to_string(shader.vertexShader).size() + 10) << "log expected";
    EXPECT_NE(shader.vertexShader, 0u);
    EXPECT_EQ(shader.fragmentShader, 0u);
    EXPECT_EQ(shader.program, 0u);

    gl::ShaderProgram missing{};
    missing.vertexSource = gl::demoVertexSource;
    testing::internal::CaptureStdout();
    EXPECT_EQ(gl::buildShaderProgram(&missing), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(missing.vertexShader, 0u);
}

TEST_F(GlContext, UploadSetsFilterClampAndFormatAndFreesPixels) {
    struct Case {
        int32_t components;
        int32_t filter;
        GLint internalFormat;
        GLint filterValue;
    };
    const Case cases[] = {{1, 0, GL_LUMINANCE, GL_NEAREST},
                          {2, 1, GL_LUMINANCE_ALPHA, GL_LINEAR},
                          {3, 0, GL_RGB, GL_NEAREST},
                          {4, 1, GL_RGBA, GL_LINEAR}};
    for (const Case& c : cases) {
        gl::Texture* t = freshTexture();
        t->width = 4;
        t->height = 4;
        t->components = c.components;
        t->filter = c.filter;
        t->pixels = static_cast<uint8_t*>(std::calloc(64, 1));
        ASSERT_EQ(gl::uploadTexture(t), 0);
        EXPECT_NE(t->name, 0u);
        EXPECT_EQ(t->pixels, nullptr);
        glBindTexture(GL_TEXTURE_2D, t->name);
        GLint value = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &value);
        EXPECT_EQ(value, c.internalFormat) << c.components;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &value);
        EXPECT_EQ(value, c.filterValue);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
        EXPECT_EQ(value, c.filterValue);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
        EXPECT_EQ(value, GL_CLAMP_TO_EDGE);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &value);
        EXPECT_EQ(value, GL_CLAMP_TO_EDGE);
        glBindTexture(GL_TEXTURE_2D, 0);
        const GLuint name = t->name;
        gl::deleteTexture(t);
        EXPECT_FALSE(glIsTexture(name));
    }
}

TEST_F(GlContext, OversizedPicturesShrinkToTheLimitBeforeUpload) {
    gl::Texture* t = freshTexture();
    t->width = 2000;
    t->height = 100;
    t->components = 1;
    t->pixels = static_cast<uint8_t*>(std::calloc(2000 * 100, 1));
    ASSERT_EQ(gl::uploadTexture(t), 0);
    EXPECT_EQ(t->width, 1024);
    EXPECT_EQ(t->height, 1024);
    glBindTexture(GL_TEXTURE_2D, t->name);
    GLint width = 0;
    GLint height = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 1024);
    glBindTexture(GL_TEXTURE_2D, 0);
    gl::deleteTexture(t);
}

TEST_F(GlContext, RowsThatAreNotWholeWordsUploadIntact) {
    gl::Texture* t = freshTexture();
    t->width = 3;
    t->height = 3;
    t->components = 3;
    t->pixels = static_cast<uint8_t*>(std::malloc(27));
    uint8_t expected[27];
    for (int i = 0; i < 27; ++i) expected[i] = static_cast<uint8_t>(i * 9 + 1);
    std::memcpy(t->pixels, expected, 27);
    ASSERT_EQ(gl::uploadTexture(t), 0);
    glBindTexture(GL_TEXTURE_2D, t->name);
    uint8_t back[27] = {};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, back);
    EXPECT_EQ(std::memcmp(back, expected, 27), 0);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
    gl::deleteTexture(t);
}

TEST_F(GlContext, AnUndecodablePictureStillGetsAnEmptyTexture) {
    const uint8_t garbage[] = {1, 2, 3};
    gl::Texture* t = freshTexture();
    EXPECT_FALSE(gl::decodeTexture(t, garbage, sizeof garbage));
    EXPECT_EQ(gl::resampleTexture(t, 512, 512), 1);
    EXPECT_EQ(gl::uploadTexture(t), 0);
    EXPECT_NE(t->name, 0u);
    glBindTexture(GL_TEXTURE_2D, t->name);
    GLint width = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    gl::deleteTexture(t);
}

TEST_F(GlContext, BindAndUnbindTrackTheUnit) {
    gl::Texture* t = freshTexture();
    t->width = 2;
    t->height = 2;
    t->components = 4;
    t->pixels = static_cast<uint8_t*>(std::calloc(16, 1));
    ASSERT_EQ(gl::uploadTexture(t), 0);
    gl::bindTexture(t, 1);
    EXPECT_EQ(display::renderState.boundTexture[1], t);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), t->name);
    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(active, GL_TEXTURE1);
    gl::unbindTexture(t);
    EXPECT_EQ(display::renderState.boundTexture[1], nullptr);
    EXPECT_EQ(t->unit, 0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
    glActiveTexture(GL_TEXTURE0);
    gl::deleteTexture(t);
}

TEST_F(GlContext, TheQuadEmitsSixVerticesWithTheirOwnCoordinates) {
    gl::Mesh mesh{};
    driver::pointAtQuad(&mesh);
    std::vector<GLfloat> feedback(256);
    glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D_COLOR_TEXTURE, feedback.data());
    glRenderMode(GL_FEEDBACK);
    gl::drawMesh(&mesh);
    const GLint used = glRenderMode(GL_RENDER);
    // Two polygon tokens, each with a count of 3 and three vertices of x y z, rgba, strq.
    ASSERT_EQ(used, 2 * (2 + 3 * 11));
    const float half = viewportSize / 2.0f;
    const int expected[6] = {0, 1, 2, 2, 3, 0};
    for (int v = 0; v < 6; ++v) {
        const GLfloat* vertex = feedback.data() + (v / 3) * 35 + 2 + (v % 3) * 11;
        const int k = expected[v];
        EXPECT_FLOAT_EQ(vertex[0], (gl::quadPositions[3 * k] + 1.0f) * half) << v;
        EXPECT_FLOAT_EQ(vertex[1], (gl::quadPositions[3 * k + 1] + 1.0f) * half) << v;
        EXPECT_FLOAT_EQ(vertex[7], gl::quadTexcoords[2 * k]) << v;
        EXPECT_FLOAT_EQ(vertex[8], gl::quadTexcoords[2 * k + 1]) << v;
    }
    gl::disableClientArrays(&mesh);
}

TEST_F(GlContext, NonIndexedAndFanMeshesFollowTheSelector) {
    gl::Mesh mesh{};
    mesh.positions = gl::quadPositions;
    mesh.count = 4;
    mesh.primitive = 1;
    std::vector<GLfloat> feedback(256);
    glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D, feedback.data());
    glRenderMode(GL_FEEDBACK);
    gl::drawMesh(&mesh);
    EXPECT_EQ(glRenderMode(GL_RENDER), 2 * (2 + 3 * 3)); // a fan of four vertices: 2 triangles
    mesh.primitive = 2;
    mesh.count = 3;
    glRenderMode(GL_FEEDBACK);
    gl::drawMesh(&mesh);
    EXPECT_EQ(glRenderMode(GL_RENDER), 2 + 3 * 3);
    gl::Mesh empty{};
    glRenderMode(GL_FEEDBACK);
    gl::drawMesh(&empty);
    EXPECT_EQ(glRenderMode(GL_RENDER), 0);
}

// Decodes and resamples a picture the way start-up does, keeping the pixels for comparison.
gl::Texture* referencePicture(const driver::ImageSlot& slot) {
    gl::Texture* t = freshTexture();
    EXPECT_TRUE(gl::decodeTexture(t, slot.data, slot.length));
    EXPECT_EQ(gl::resampleTexture(t, 512, 512), 0);
    return t;
}

// Largest channel difference between the screen and inverse-to-plain blend by weight.
int32_t worstDifference(const std::vector<uint8_t>& screen, const gl::Texture* picture,
                        float plainWeight) {
    int32_t worst = 0;
    for (int32_t y = 0; y < viewportSize; ++y) {
        const int32_t pictureRow = viewportSize - 1 - y; // the picture's top is the screen's top
        for (int32_t x = 0; x < viewportSize; ++x) {
            for (int32_t c = 0; c < 3; ++c) {
                const int32_t channel = picture->components == 1 ? 0 : c;
                const float plain =
                    picture
                        ->pixels[(static_cast<size_t>(pictureRow) * 512 + x) * picture->components +
                                 channel] /
                    255.0f;
                const float expected = (1.0f - plainWeight) * (1.0f - plain) + plainWeight * plain;
                const int32_t want = static_cast<int32_t>(expected * 255.0f + 0.5f);
                const int32_t got = screen[(static_cast<size_t>(y) * viewportSize + x) * 3 + c];
                worst = std::max(worst, std::abs(got - want));
            }
        }
    }
    return worst;
}

class GlFrames : public GlContext {
  protected:
    void SetUp() override {
        driver::createSlotTextures(driver::imageTable);
        driver::pointAtQuad(&mesh);
        testing::internal::CaptureStdout();
        driver::buildDemoShader(&shader);
        testing::internal::GetCapturedStdout();
    }
    void TearDown() override { driver::deleteSlotTextures(driver::imageTable); }
    driver::Scene scene() {
        return {driver::imageTable, &mesh, &shader, float(viewportSize), float(viewportSize)};
    }
    gl::Mesh mesh{};
    gl::ShaderProgram shader{};
};

TEST_F(GlFrames, EverySlotGetsItsOwnTexture) {
    for (int32_t i = 0; i < driver::imageSlotCount; ++i) {
        ASSERT_NE(driver::imageTable[i].texture, nullptr);
        EXPECT_NE(driver::imageTable[i].texture->name, 0u);
        EXPECT_EQ(driver::imageTable[i].texture->width, 512);
        EXPECT_EQ(driver::imageTable[i].texture->pixels, nullptr);
        for (int32_t j = 0; j < i; ++j) {
            EXPECT_NE(driver::imageTable[i].texture->name, driver::imageTable[j].texture->name);
        }
    }
    EXPECT_EQ(driver::imageTable[0].data, driver::imageTable[8].data);
}

// The pictures are decoded and resampled on their own thread into one shared block and uploaded
// from there; each texture must hold what decoding and resampling that slot alone gives.
TEST_F(GlFrames, EachSlotUploadsItsOwnResampledPicture) {
    for (int32_t i = 0; i < driver::imageSlotCount; ++i) {
        gl::Texture alone{};
        ASSERT_TRUE(
            gl::decodeTexture(&alone, driver::imageTable[i].data, driver::imageTable[i].length));
        ASSERT_EQ(gl::resampleTexture(&alone, 512, 512), 0);
        const GLenum format = gl::uploadFormatFor(alone.components);
        std::vector<uint8_t> uploaded(std::size_t{512} * 512 * alone.components + 1, 0);
        glBindTexture(GL_TEXTURE_2D, driver::imageTable[i].texture->name);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, format, GL_UNSIGNED_BYTE, uploaded.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        EXPECT_EQ(0, std::memcmp(uploaded.data(), alone.pixels, uploaded.size() - 1)) << i;
        std::free(alone.pixels);
    }
}

TEST_F(GlFrames, TheQuadCoversTheWholeViewport) {
    // The context's own viewport (the window's drawable), as the demo draws it.
    glViewport(defaultViewport[0], defaultViewport[1], defaultViewport[2], defaultViewport[3]);
    const int32_t width = defaultViewport[2];
    const int32_t height = defaultViewport[3];
    ASSERT_GT(width, 0);
    gl::Texture* white = freshTexture();
    white->width = 2;
    white->height = 2;
    white->components = 1;
    white->pixels = static_cast<uint8_t*>(std::malloc(4));
    std::memset(white->pixels, 255, 4);
    ASSERT_EQ(gl::resampleTexture(white, 512, 512), 0);
    ASSERT_EQ(gl::uploadTexture(white), 0);
    driver::ImageSlot slots[driver::imageSlotCount] = {};
    for (auto& slot : slots) slot.texture = white;
    const driver::Scene whiteScene = {slots, &mesh, &shader, float(width), float(height)};
    driver::drawFrame(whiteScene, driver::beatFrameAt(0));
    std::vector<uint8_t> screen(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, screen.data());
    size_t uncovered = 0;
    for (uint8_t value : screen) uncovered += value != 255 ? 1 : 0;
    EXPECT_EQ(uncovered, 0u) << width << "x" << height;
    gl::deleteTexture(white);
    glViewport(0, 0, viewportSize, viewportSize);
}

TEST_F(GlFrames, FlashValuesShowPlainInverseAndBlend) {
    for (int32_t slot : {0, 5, 13, 22}) {
        gl::Texture* picture = referencePicture(driver::imageTable[slot]);
        for (float phase : {1.0f, 0.0f, 0.2f}) {
            driver::BeatFrame frame{};
            frame.slot = slot;
            frame.phase = phase;
            driver::drawFrame(scene(), frame);
            const float plainWeight = std::min(phase * 4.0f, 1.0f);
            EXPECT_LE(worstDifference(readScreen(), picture, plainWeight), 2)
                << "slot " << slot << " flash " << phase * 4.0f;
        }
        gl::deleteTexture(picture);
    }
}

TEST_F(GlFrames, TheClockPicksSlotAndFlash) {
    // 5400 ms is beat 16: slot 8 (the first file again) at flash 0.8.
    const driver::BeatFrame frame = driver::beatFrameAt(5400);
    ASSERT_EQ(frame.slot, 8);
    driver::drawFrame(scene(), frame);
    gl::Texture* picture = referencePicture(driver::imageTable[8]);
    EXPECT_LE(worstDifference(readScreen(), picture, 0.8f), 2);
    EXPECT_GT(worstDifference(readScreen(), picture, 1.0f), 50) << "expected a visible flash";
    gl::deleteTexture(picture);
}

} // namespace
