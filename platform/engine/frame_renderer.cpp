#include "platform/engine/frame_renderer.h"

#include "platform/d3d9/gl_device.h"
#include "platform/engine/engine_state.h"
#include "platform/engine/glyph_atlas.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <sstream>
#include <unordered_map>

namespace engine {

namespace {

constexpr const char* skyVertexShader = R"(#version 450 core
uniform vec3 rightScaled;
uniform vec3 upScaled;
uniform vec3 forward;
out vec3 ray;
void main() {
    // One triangle over the whole target; clip y = +1 is the top row.
    vec2 corner = vec2((gl_VertexID << 1) & 2, gl_VertexID & 2) * 2.0 - 1.0;
    ray = forward + corner.x * rightScaled + corner.y * upScaled;
    gl_Position = vec4(corner, 0.0, 1.0);
}
)";

constexpr const char* skyFragmentShader = R"(#version 450 core
uniform vec3 zenith;
uniform vec3 horizon;
uniform vec3 haze;
uniform vec3 ground;
uniform vec3 sunColour;
uniform vec3 sunDirection;
uniform float sunCosRadius;
uniform float sunGlowSharpness;
uniform float hazeSine;
in vec3 ray;
out vec4 colour;
void main() {
    vec3 direction = normalize(ray);
    float height = direction.y; // Direct3D's y is up
    if (height < 0.0) {
        // The ground darkens toward the nadir, so that looking down reads as looking down.
        colour = vec4(ground * mix(1.0, 0.55, sqrt(-height)), 1.0);
        return;
    }
    vec3 sky = mix(horizon, zenith, sqrt(height));
    if (hazeSine > 0.0) sky = mix(sky, haze, 1.0 - smoothstep(0.0, hazeSine, height));
    // The glow halves at the glow width from the sun: 1 - cos(angle) is about angle^2 / 2.
    float cosAngle = dot(direction, sunDirection);
    sky += sunColour * 0.5 / (1.0 + (1.0 - cosAngle) * sunGlowSharpness);
    if (cosAngle >= sunCosRadius) sky += sunColour; // the disc outshines its glow
    colour = vec4(min(sky, vec3(1.0)), 1.0);
}
)";

constexpr const char* overlayVertexShader = R"(#version 450 core
layout(location = 0) in vec2 position; // pixels, row 0 at the top
layout(location = 1) in vec2 texcoord;
layout(location = 2) in vec4 tint;
uniform vec2 targetSize;
out vec2 uv;
out vec4 vertexTint;
void main() {
    uv = texcoord;
    vertexTint = tint;
    gl_Position = vec4(position.x / targetSize.x * 2.0 - 1.0,
                       1.0 - position.y / targetSize.y * 2.0, 0.0, 1.0);
}
)";

constexpr const char* overlayFragmentShader = R"(#version 450 core
uniform sampler2D image;
uniform int coverageOnly; // text: the image is glyph coverage, the tint its colour
in vec2 uv;
in vec4 vertexTint;
out vec4 colour;
void main() {
    vec4 texel = texture(image, uv);
    colour = coverageOnly != 0 ? vec4(vertexTint.rgb, vertexTint.a * texel.r) : texel * vertexTint;
}
)";

struct OverlayVertex {
    float x, y;
    float u, v;
    float red, green, blue, alpha;
};

struct PanelTexture {
    GLuint name = 0;
    unsigned revision = 0;
};

struct Renderer {
    bool attempted = false;
    bool ready = false;
    GLuint skyProgram = 0;
    GLuint overlayProgram = 0;
    GLuint vertexArray = 0;
    GLuint vertexBuffer = 0;
    GLuint sampler = 0;
    GLuint whiteTexture = 0; // 1 x 1, for the solid quads of message boxes
    bool textReady = false;
    GlyphAtlas atlas;
    GLuint atlasTexture = 0;
    std::unordered_map<const BitmapObject*, PanelTexture> panelTextures;
    // Reused from frame to frame, so that drawing the overlay allocates nothing.
    std::vector<OverlayVertex> vertices;
    std::vector<const PanelObject*> shownPanels;
    std::vector<GLuint> quadTextures; // one per quad before the glyphs
};

Renderer renderer;

// Whether a shader or program reached `status`; if not, appends its info log to `log`.
bool reached(GLuint object, GLenum status, PFNGLGETSHADERIVPROC getStatus,
             PFNGLGETSHADERINFOLOGPROC getLog, std::string& log) {
    GLint ok = GL_FALSE;
    getStatus(object, status, &ok);
    if (ok) return true;
    char text[1024] = {};
    getLog(object, sizeof text, nullptr, text);
    log += text;
    return false;
}

GLuint compileStage(GLenum stage, const char* source, std::string& log) {
    const GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    reached(shader, GL_COMPILE_STATUS, glGetShaderiv, glGetShaderInfoLog, log);
    return shader;
}

GLuint linkProgram(const char* vertexSource, const char* fragmentSource) {
    std::string log;
    const GLuint vertex = compileStage(GL_VERTEX_SHADER, vertexSource, log);
    const GLuint fragment = compileStage(GL_FRAGMENT_SHADER, fragmentSource, log);
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    if (!reached(program, GL_LINK_STATUS, glGetProgramiv, glGetProgramInfoLog, log)) {
        reportProblem("the engine's shaders do not build: " + log);
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

// Programs, vertex layout, sampler and the glyph atlas, made on first use in the main
// thread's context (vertex arrays belong to one context).
bool prepare() {
    if (renderer.attempted) return renderer.ready;
    renderer.attempted = true;
    renderer.skyProgram = linkProgram(skyVertexShader, skyFragmentShader);
    renderer.overlayProgram = linkProgram(overlayVertexShader, overlayFragmentShader);
    if (!renderer.skyProgram || !renderer.overlayProgram) return false;

    glCreateBuffers(1, &renderer.vertexBuffer);
    glCreateVertexArrays(1, &renderer.vertexArray);
    const GLuint vao = renderer.vertexArray;
    glVertexArrayVertexBuffer(vao, 0, renderer.vertexBuffer, 0, sizeof(OverlayVertex));
    const GLuint sizes[3] = {2, 2, 4};
    const GLuint offsets[3] = {offsetof(OverlayVertex, x), offsetof(OverlayVertex, u),
                               offsetof(OverlayVertex, red)};
    for (GLuint attribute = 0; attribute < 3; ++attribute) {
        glEnableVertexArrayAttrib(vao, attribute);
        glVertexArrayAttribFormat(vao, attribute, static_cast<GLint>(sizes[attribute]), GL_FLOAT,
                                  GL_FALSE, offsets[attribute]);
        glVertexArrayAttribBinding(vao, attribute, 0);
    }

    glCreateSamplers(1, &renderer.sampler);
    glSamplerParameteri(renderer.sampler, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glSamplerParameteri(renderer.sampler, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glSamplerParameteri(renderer.sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(renderer.sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    const std::uint32_t white = 0xFFFFFFFF;
    glCreateTextures(GL_TEXTURE_2D, 1, &renderer.whiteTexture);
    glTextureStorage2D(renderer.whiteTexture, 1, GL_RGBA8, 1, 1);
    glTextureSubImage2D(renderer.whiteTexture, 0, 0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &white);

    std::string error;
    if (buildGlyphAtlas(textFontPath, textPixelSize, renderer.atlas, error)) {
        glCreateTextures(GL_TEXTURE_2D, 1, &renderer.atlasTexture);
        glTextureStorage2D(renderer.atlasTexture, 1, GL_R8, renderer.atlas.width,
                           renderer.atlas.height);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glTextureSubImage2D(renderer.atlasTexture, 0, 0, 0, renderer.atlas.width,
                            renderer.atlas.height, GL_RED, GL_UNSIGNED_BYTE,
                            renderer.atlas.coverage.data());
        renderer.textReady = true;
    } else {
        reportProblem(error + "; texts are not drawn");
    }
    renderer.ready = true;
    return true;
}

// The GL state the engine's drawing relies on; device draws set their own again.
void setDrawingState() {
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_RASTERIZER_DISCARD);
    glDisable(GL_POLYGON_OFFSET_FILL);
    glDisable(GL_SAMPLE_ALPHA_TO_COVERAGE);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_FALSE);
}

Real3 direct3dDirection(double pan, double tilt, double roll, const Real3& cameraAxis) {
    const Real3 world = rotateFromCamera(cameraAxis, pan, tilt, roll);
    return {world.x, world.z, world.y};
}

void uniform3(GLuint program, const char* name, double x, double y, double z) {
    glProgramUniform3f(program, glGetUniformLocation(program, name), static_cast<float>(x),
                       static_cast<float>(y), static_cast<float>(z));
}

void uniformColour(GLuint program, const char* name, const LevelColour& colour) {
    uniform3(program, name, colour.red / 255.0, colour.green / 255.0, colour.blue / 255.0);
}

GLuint panelTexture(const BitmapObject& bitmap) {
    PanelTexture& texture = renderer.panelTextures[&bitmap];
    if (texture.name && texture.revision == bitmap.revision) return texture.name;
    if (!texture.name) {
        glCreateTextures(GL_TEXTURE_2D, 1, &texture.name);
        glTextureStorage2D(texture.name, 1, GL_RGBA8, bitmap.width, bitmap.height);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTextureSubImage2D(texture.name, 0, 0, 0, bitmap.width, bitmap.height, GL_BGRA,
                        GL_UNSIGNED_INT_8_8_8_8_REV, bitmap.levels[0].data());
    texture.revision = bitmap.revision;
    return texture.name;
}

void addQuad(double left, double top, double right, double bottom, float u0, float v0, float u1,
             float v1, const float tint[4]) {
    const float x0 = static_cast<float>(left), y0 = static_cast<float>(top);
    const float x1 = static_cast<float>(right), y1 = static_cast<float>(bottom);
    const OverlayVertex corners[4] = {
        {x0, y0, u0, v0, tint[0], tint[1], tint[2], tint[3]},
        {x1, y0, u1, v0, tint[0], tint[1], tint[2], tint[3]},
        {x0, y1, u0, v1, tint[0], tint[1], tint[2], tint[3]},
        {x1, y1, u1, v1, tint[0], tint[1], tint[2], tint[3]},
    };
    for (const int corner : {0, 1, 2, 2, 1, 3})
        renderer.vertices.push_back(corners[corner]);
}

// Glyph quads of every text, at whole pixels so that glyphs map texel for texel.
void addTexts(const TextQueue& texts) {
    const GlyphAtlas& atlas = renderer.atlas;
    const float atlasWidth = static_cast<float>(atlas.width);
    const float atlasHeight = static_cast<float>(atlas.height);
    for (const QueuedText& text : texts.texts) {
        const float tint[4] = {text.red, text.green, text.blue, 1.0f};
        double penX = std::floor(text.x);
        const double penY = std::floor(text.y);
        for (const char character : texts.charactersOf(text)) {
            const Glyph& glyph = atlas.glyph(character);
            if (glyph.width > 0 && glyph.height > 0) {
                const double left = penX + glyph.left, top = penY + glyph.top;
                addQuad(left, top, left + glyph.width, top + glyph.height,
                        glyph.atlasX / atlasWidth, glyph.atlasY / atlasHeight,
                        (glyph.atlasX + glyph.width) / atlasWidth,
                        (glyph.atlasY + glyph.height) / atlasHeight, tint);
            }
            penX += atlas.advance;
        }
    }
}

// Draws renderer.vertices into the bound back buffer: first one quad per entry of
// renderer.quadTextures with that texture, then the glyph quads that follow them.
void drawQueuedQuads(int width, int height) {
    assert(renderer.vertices.size() >= 6 * renderer.quadTextures.size());
    if (renderer.vertices.empty()) return;
    glNamedBufferData(renderer.vertexBuffer,
                      static_cast<GLsizeiptr>(renderer.vertices.size() * sizeof(OverlayVertex)),
                      renderer.vertices.data(), GL_STREAM_DRAW);
    setDrawingState();
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    // The back buffer keeps its alpha.
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    const GLuint program = renderer.overlayProgram;
    glProgramUniform2f(program, glGetUniformLocation(program, "targetSize"),
                       static_cast<float>(width), static_cast<float>(height));
    glProgramUniform1i(program, glGetUniformLocation(program, "image"), 0);
    glUseProgram(program);
    glBindVertexArray(renderer.vertexArray);
    glBindSampler(0, renderer.sampler);
    glActiveTexture(GL_TEXTURE0);

    const GLint coverageOnly = glGetUniformLocation(program, "coverageOnly");
    glProgramUniform1i(program, coverageOnly, 0);
    for (std::size_t i = 0; i < renderer.quadTextures.size(); ++i) {
        glBindTexture(GL_TEXTURE_2D, renderer.quadTextures[i]);
        glDrawArrays(GL_TRIANGLES, static_cast<GLint>(6 * i), 6);
    }
    const std::size_t glyphVertexStart = 6 * renderer.quadTextures.size();
    if (renderer.vertices.size() > glyphVertexStart) {
        glProgramUniform1i(program, coverageOnly, 1);
        glBindTexture(GL_TEXTURE_2D, renderer.atlasTexture);
        glDrawArrays(GL_TRIANGLES, static_cast<GLint>(glyphVertexStart),
                     static_cast<GLsizei>(renderer.vertices.size() - glyphVertexStart));
    }
    glDisable(GL_BLEND);
}

// The lines of `text` as a box shows them: tabs as spaces, each line broken before `columns`
// characters (at its last space when there is one in the second half), and at most
// `mostLines` lines, the last of them "..." when some were left out.
std::vector<std::string> wrappedLines(const std::string& text, std::size_t columns,
                                      std::size_t mostLines) {
    std::vector<std::string> lines;
    std::istringstream paragraphs(text);
    std::string paragraph;
    while (std::getline(paragraphs, paragraph)) {
        std::replace(paragraph.begin(), paragraph.end(), '\t', ' ');
        std::erase(paragraph, '\r');
        do {
            std::size_t cut = std::min(columns, paragraph.size());
            if (cut < paragraph.size()) {
                const std::size_t space = paragraph.rfind(' ', cut);
                if (space != std::string::npos && space > columns / 2) cut = space;
            }
            lines.push_back(paragraph.substr(0, cut));
            paragraph.erase(0, cut);
            if (!paragraph.empty() && paragraph.front() == ' ') paragraph.erase(0, 1);
        } while (!paragraph.empty());
    }
    if (lines.size() > mostLines) {
        lines.resize(mostLines - 1);
        lines.push_back("...");
    }
    return lines;
}

} // namespace

// Both draw into the back buffer itself, never into the device's render target: a worker's
// pass may hold that meanwhile, and it stays as it was.
void drawSky(IDirect3DDevice9* device, const EngineCamera& camera, const Projection& projection,
             const SkyView& sky) {
    d3d9gl::bindThreadContext(device);
    d3d9gl::bindBackBufferForDrawing(device);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    glDisable(GL_SCISSOR_TEST);
    glClearDepth(1.0);
    glClearStencil(0);
    glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    if (!prepare()) return;

    setDrawingState();
    glDisable(GL_BLEND);
    const double pan = fromEngineNumber(camera.angles.x), tilt = fromEngineNumber(camera.angles.y);
    const double roll = fromEngineNumber(camera.angles.z);
    const Real3 forward = direct3dDirection(pan, tilt, roll, {1, 0, 0});
    const Real3 left = direct3dDirection(pan, tilt, roll, {0, 1, 0});
    const Real3 up = direct3dDirection(pan, tilt, roll, {0, 0, 1});
    const double halfWidth = std::tan(projection.horizontalFieldOfView * std::numbers::pi / 360);
    const double halfHeight = halfWidth / projection.aspect;
    const GLuint program = renderer.skyProgram;
    uniform3(program, "rightScaled", -left.x * halfWidth, -left.y * halfWidth, -left.z * halfWidth);
    uniform3(program, "upScaled", up.x * halfHeight, up.y * halfHeight, up.z * halfHeight);
    uniform3(program, "forward", forward.x, forward.y, forward.z);
    uniformColour(program, "zenith", sky.colours.zenith);
    uniformColour(program, "horizon", sky.colours.horizon);
    uniformColour(program, "haze", sky.colours.haze);
    uniformColour(program, "ground", sky.colours.ground);
    uniformColour(program, "sunColour", sky.sunColour);
    const Real3 sun = direct3dDirection(sky.sunAzimuth, sky.sunElevation, 0, {1, 0, 0});
    uniform3(program, "sunDirection", sun.x, sun.y, sun.z);
    const double sunRadius = std::max(sky.sunDiameter, 0.0) / 120.0 * std::numbers::pi / 180.0;
    glProgramUniform1f(program, glGetUniformLocation(program, "sunCosRadius"),
                       static_cast<float>(std::cos(sunRadius)));
    const double glowWidth = std::max(10 * sunRadius, 1e-3);
    glProgramUniform1f(program, glGetUniformLocation(program, "sunGlowSharpness"),
                       static_cast<float>(2 / (glowWidth * glowWidth)));
    glProgramUniform1f(program, glGetUniformLocation(program, "hazeSine"),
                       static_cast<float>(std::sin(std::clamp(sky.hazeHeight, 0.0, 90.0) *
                                                   std::numbers::pi / 180.0)));
    glUseProgram(program);
    glBindVertexArray(renderer.vertexArray);
    glDrawArrays(GL_TRIANGLES, 0, 3);
}

void drawOverlay(IDirect3DDevice9* device, int width, int height,
                 const std::vector<PanelObject*>& panels, const TextQueue& texts) {
    d3d9gl::bindThreadContext(device);
    d3d9gl::bindBackBufferForDrawing(device);
    if (!prepare()) return;

    std::vector<const PanelObject*>& shown = renderer.shownPanels;
    shown.clear();
    for (const PanelObject* panel : panels) {
        if ((panel->flags & panelVisible) && panel->bitmap) shown.push_back(panel);
    }
    // Higher layers on top; within a layer, in the order the panels were made.
    std::sort(shown.begin(), shown.end(), [](const PanelObject* a, const PanelObject* b) {
        return a->layer != b->layer ? a->layer < b->layer : a->creationOrder < b->creationOrder;
    });

    // One buffer for the frame: the panels' quads in drawing order, then every glyph.
    renderer.vertices.clear();
    const float opaque[4] = {1, 1, 1, 1};
    for (const PanelObject* panel : shown) {
        const auto& bitmap = *static_cast<const BitmapObject*>(panel->bitmap);
        const double panelWidth = panel->width > 0 ? fromEngineNumber(panel->width) : bitmap.width;
        const double panelHeight = panel->height > 0 ? fromEngineNumber(panel->height) : bitmap.height;
        const double left = fromEngineNumber(panel->x), top = fromEngineNumber(panel->y);
        addQuad(left, top, left + panelWidth * fromEngineNumber(panel->scaleX), top + panelHeight, 0, 0,
                static_cast<float>(panelWidth / bitmap.width),
                static_cast<float>(panelHeight / bitmap.height), opaque);
    }
    if (renderer.textReady) addTexts(texts);
    renderer.quadTextures.clear();
    for (const PanelObject* panel : shown)
        renderer.quadTextures.push_back(
            panelTexture(*static_cast<const BitmapObject*>(panel->bitmap)));
    drawQueuedQuads(width, height);
}

void drawMessageBox(IDirect3DDevice9* device, int width, int height, const std::string& caption,
                    const std::string& text, bool waitsForAnswer) {
    d3d9gl::bindThreadContext(device);
    d3d9gl::bindBackBufferForDrawing(device);
    if (!prepare()) return;

    // Without a font the box still shows, as blank lines of a usual size.
    const int advance = renderer.textReady ? renderer.atlas.advance : 8;
    const int lineHeight = renderer.textReady ? renderer.atlas.lineHeight : 16;
    constexpr int padding = 10;
    const int columns = std::max(8, (width * 9 / 10 - 2 * padding) / advance);
    const int mostBodyLines =
        std::max(1, (height * 9 / 10 - 4 * padding - 3 * lineHeight) / lineHeight);
    const std::vector<std::string> body = wrappedLines(text, static_cast<std::size_t>(columns),
                                                       static_cast<std::size_t>(mostBodyLines));
    const std::string title = caption.substr(0, static_cast<std::size_t>(columns));
    const std::string hint = waitsForAnswer ? "[ OK ]  press a key or click" : "[ OK ]";

    std::size_t widest = std::max(title.size(), hint.size());
    for (const std::string& line : body)
        widest = std::max(widest, line.size());
    const int boxWidth = 2 * padding + static_cast<int>(widest) * advance;
    const int titleHeight = lineHeight + padding;
    const int boxHeight =
        titleHeight + 3 * padding + (static_cast<int>(body.size()) + 1) * lineHeight;
    const int left = (width - boxWidth) / 2, top = (height - boxHeight) / 2;
    const int right = left + boxWidth, bottom = top + boxHeight;

    renderer.vertices.clear();
    const float border[4] = {0.25f, 0.25f, 0.25f, 1};
    const float titleBar[4] = {0, 84 / 255.0f, 166 / 255.0f, 1};
    const float bodyGrey = messageBoxBodyLevel / 255.0f;
    const float bodyFill[4] = {bodyGrey, bodyGrey, bodyGrey, 1};
    addQuad(left - 1, top - 1, right + 1, bottom + 1, 0, 0, 1, 1, border);
    addQuad(left, top, right, top + titleHeight, 0, 0, 1, 1, titleBar);
    addQuad(left, top + titleHeight, right, bottom, 0, 0, 1, 1, bodyFill);
    renderer.quadTextures.assign(3, renderer.whiteTexture);

    if (renderer.textReady) {
        TextQueue lines;
        auto addLine = [&lines](const std::string& line, int x, int y, float grey) {
            lines.texts.push_back(
                {lines.characters.size(), line.size(), double(x), double(y), grey, grey, grey});
            lines.characters += line;
        };
        addLine(title, left + padding, top + padding / 2, 1);
        for (std::size_t i = 0; i < body.size(); ++i)
            addLine(body[i], left + padding,
                    top + titleHeight + padding + static_cast<int>(i) * lineHeight, 0);
        addLine(hint, left + padding, bottom - padding - lineHeight, 0.3f);
        addTexts(lines);
    }
    drawQueuedQuads(width, height);
}

} // namespace engine
