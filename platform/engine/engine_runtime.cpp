// The engine's host and frame: opening the window or the headless context with the Direct3D
// device, one frame (input, key hooks, sky, render hook, panels and texts, present), the level,
// the simulated device loss and the end of the run.
#include "engine/engine.h"

#include "platform/d3d9/gl_device.h"
#include "platform/engine/camera_math.h"
#include "platform/engine/engine_objects.h"
#include "platform/engine/engine_state.h"
#include "platform/engine/frame_renderer.h"
#include "platform/engine/host_options.h"
#include "platform/engine/level_format.h"
#include "platform/engine/message_box_screen.h"
#include "platform/engine/window_input.h"
#include "platform/files/bounded_file.h"
#include "platform/trace/trace.h"

#include <GLFW/glfw3.h>
#include <stb_image_write.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <malloc.h>
#include <optional>
#include <sstream>
#include <thread>

namespace engine {

namespace {

using Clock = std::chrono::steady_clock;

// What an empty level shows.
constexpr LevelSky defaultSky{{40, 70, 130}, {150, 170, 195}, {190, 195, 205}, {60, 56, 50}};
constexpr LevelColour defaultSunColour{255, 244, 214};

constexpr double mouseTurnPerPixel = 0.2;
constexpr double headlessTimeStep = 1.0 / 60; // seconds

struct Runtime {
    bool open = false;
    bool ended = false;
    bool waitForRetrace = true;
    GLFWwindow* window = nullptr;
    IDirect3DDevice9* device = nullptr;
    int width = 0, height = 0;
    int frameNumber = 0;
    int hookDepth = 0; // key hooks running; their frames call no further key hooks
    int framesInHook = 0; // frames drawn inside the outermost key hook running now
    std::deque<int> pendingPresses;
    std::array<bool, keyCount> heldLastFrame{};
    bool deviceLossDone = false;
    // The frame duration of every frame, ticks; none: the real time between frames.
    std::optional<EngineNumber> fixedFrameDuration;
    Clock::time_point openTime, lastFrameStart, firstFrameStart;
    LevelSky sky = defaultSky;
    LevelColour sunColour = defaultSunColour;
};

Runtime runtime;

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

EngineNumber ticks(Clock::duration duration) {
    return toEngineNumber(seconds(duration) * 16.0);
}

// "-diag" prints diagnostics; "-nx N" keeps up to N draw_text calls per frame; "-nwnd" does
// not wait for the display's retrace when presenting to a window.
void readEngineCommandLine(const char* commandLine) {
    std::istringstream words(commandLine ? commandLine : "");
    std::string word;
    while (words >> word) {
        if (word == "-diag") {
            setDiagnostics(true);
        } else if (word == "-nwnd") {
            runtime.waitForRetrace = false;
        } else if (word == "-nx") {
            int capacity = 0;
            if (words >> capacity && capacity >= 0) {
                setTextQueueCapacity(capacity);
            } else {
                reportProblem("-nx needs a number of texts");
                words.clear();
            }
        } else {
            reportProblem("ignoring the unknown engine option \"" + word + "\"");
        }
    }
}

void onGlfwError(int code, const char* description) {
    diagnostic("GLFW error " + std::to_string(code) + ": " + description);
}

bool openWindowedDevice() {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return false;
    glfwSetErrorCallback(onGlfwError);
    if (!glfwInit()) {
        diagnostic("GLFW does not start; drawing offscreen");
        return false;
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 5);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE); // the back buffer keeps its size
    GLFWwindow* window =
        glfwCreateWindow(runtime.width, runtime.height, "Gorvane", nullptr, nullptr);
    if (!window) {
        diagnostic("no OpenGL 4.5 window; drawing offscreen");
        glfwTerminate();
        return false;
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(runtime.waitForRetrace ? 1 : 0);
    if (FAILED(d3d9gl::createWindowedDevice(window, static_cast<UINT>(runtime.width),
                                            static_cast<UINT>(runtime.height), &runtime.device))) {
        diagnostic("no device for the window; drawing offscreen");
        runtime.device = nullptr;
        glfwDestroyWindow(window);
        glfwTerminate();
        return false;
    }
    runtime.window = window;
    attachWindowInput(window);
    showMessageBoxesOn(MessageBoxScreen{window, runtime.device, runtime.width, runtime.height,
                                        !hostOptions().keyScriptGiven});
    return true;
}

// Headless runs are scripted runs: their frames advance time by a fixed step, so the same key
// script ends the same way on any machine. A window follows real time unless told otherwise.
std::optional<EngineNumber> fixedFrameDuration() {
    const double step = hostOptions().timeStep.value_or(runtime.window ? 0.0 : headlessTimeStep);
    if (step <= 0) return std::nullopt;
    return toEngineNumber(step * 16.0);
}

// Mesa's software renderer allocates and frees megabytes of bin and vertex memory in every
// frame and every generation pass. glibc's defaults hand freed memory at the top of the heap
// back to the kernel at once (and serve blocks of 128 KiB or more with mmap), so the next frame
// faults the same pages in again: thousands of page faults a frame. Freed memory stays in the
// heap instead; allocations from 32 MiB on are still mapped and unmapped on their own.
void keepFreedMemoryForReuse() {
    constexpr int largestHeapBlock = 32 << 20;
    constexpr int keptFreeTop = 256 << 20;
    mallopt(M_MMAP_THRESHOLD, largestHeapBlock);
    mallopt(M_TRIM_THRESHOLD, keptFreeTop);
}

void openDevice() {
    const HostOptions& options = hostOptions();
    if (!options.headless && openWindowedDevice()) {
        diagnostic("drawing into a " + std::to_string(runtime.width) + "x" +
                   std::to_string(runtime.height) + " window");
        return;
    }
    if (FAILED(d3d9gl::createHeadlessDevice(static_cast<UINT>(runtime.width),
                                            static_cast<UINT>(runtime.height), &runtime.device))) {
        runtime.device = nullptr;
        reportProblem("no OpenGL 4.5 device; nothing can be drawn");
        return;
    }
    diagnostic("drawing offscreen, " + std::to_string(runtime.width) + "x" +
               std::to_string(runtime.height));
}

// The PNG encoder's output, written to an open file; the first failed write is kept.
struct CheckedFile {
    std::FILE* file;
    int error = 0;
};

void writeChunk(void* context, void* data, int size) {
    auto& out = *static_cast<CheckedFile*>(context);
    if (out.error == 0 && size > 0 &&
        std::fwrite(data, 1, static_cast<std::size_t>(size), out.file) !=
            static_cast<std::size_t>(size))
        out.error = errno;
}

// Empty when the whole PNG reached the file, else why not.
std::string writePng(const std::string& path, const std::vector<std::uint8_t>& rgba) {
    CheckedFile out{std::fopen(path.c_str(), "wb")};
    if (!out.file) return std::strerror(errno);
    const bool encoded = stbi_write_png_to_func(writeChunk, &out, runtime.width, runtime.height,
                                                4, rgba.data(), runtime.width * 4) != 0;
    // Buffered bytes meet a full disk only here.
    if (out.error == 0 && std::fflush(out.file) != 0) out.error = errno;
    if (std::fclose(out.file) != 0 && out.error == 0) out.error = errno;
    if (!encoded) return "the PNG encoder failed";
    return out.error == 0 ? std::string() : std::strerror(out.error);
}

void writeScreenshot() {
    const std::string& path = hostOptions().screenshotPath;
    if (path.empty() || !runtime.device || runRecord().framesDrawn == 0) return;
    std::vector<std::uint8_t> rgba;
    if (FAILED(d3d9gl::readBackBuffer(runtime.device, rgba))) {
        runRecord().screenshotFailed = true;
        reportProblem("cannot read the back buffer for the screenshot \"" + path + "\"");
        return;
    }
    // A screenshot is an opaque picture, whatever alpha the drawing left.
    for (std::size_t i = 3; i < rgba.size(); i += 4)
        rgba[i] = 255;
    const std::string problem = writePng(path, rgba);
    if (!problem.empty()) {
        runRecord().screenshotFailed = true;
        reportProblem("cannot write the screenshot \"" + path + "\": " + problem);
        return;
    }
    diagnostic("wrote the screenshot " + path);
}

void endEngine() {
    if (runtime.ended) return;
    runtime.ended = true;
    writeScreenshot();
    diagnostic("ended after " + std::to_string(runtime.frameNumber) + " frames");
}

void waitForFrameRateLimit() {
    const double limit = fromEngineNumber(variables().frameRateLimit);
    if (limit <= 0) return;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / limit));
    std::this_thread::sleep_until(runtime.lastFrameStart + period);
}

// Key states, turn and speed-up inputs from the window and the key script; queues the letter
// presses of this frame. False when the user asked the engine to end.
bool readInput() {
    std::array<bool, keyCount> held{};
    WindowInput window;
    if (runtime.window) {
        window = pollWindowInput(runtime.window);
        held = window.held;
    }
    for (int k = 0; k < keyCount; ++k) {
        if (scriptHolds(hostOptions().keyScript, static_cast<Key>(k), runtime.frameNumber))
            held[static_cast<std::size_t>(k)] = true;
    }
    auto state = [&held](Key key) {
        return held[static_cast<std::size_t>(key)] ? toEngineNumber(1) : 0;
    };

    EngineVariables& v = variables();
    for (int k = 0; k < letterCount; ++k) {
        v.letterKeys[k] = state(letterKey(k));
        if (held[static_cast<std::size_t>(k)] &&
            !runtime.heldLastFrame[static_cast<std::size_t>(k)])
            runtime.pendingPresses.push_back(k);
    }
    v.keySecondForward = state(Key::Up);
    v.keyUp = state(Key::Space);
    v.keyDown = state(Key::Ctrl);
    v.speedUpInput = state(Key::Shift);
    v.turnInputA = EngineVector{state(Key::Right) - state(Key::Left),
                                state(Key::PageUp) - state(Key::PageDown), 0};
    v.turnInputB = EngineVector{toEngineNumber(window.mouseDeltaX * mouseTurnPerPixel),
                                toEngineNumber(-window.mouseDeltaY * mouseTurnPerPixel), 0};
    runtime.heldLastFrame = held;
    return !window.closeRequested && !held[static_cast<std::size_t>(Key::Escape)];
}

// The device-lost hook, Direct3D's reset, the device-reset hook.
void simulateDeviceLoss() {
    diagnostic("device lost in frame " + std::to_string(runtime.frameNumber));
    EngineVariables& v = variables();
    if (v.deviceLostHook) v.deviceLostHook();
    const UINT alive = d3d9gl::liveDefaultPoolObjects(runtime.device);
    if (FAILED(d3d9gl::resetDevice(runtime.device)))
        reportProblem("the device reset failed: " + std::to_string(alive) +
                      " default-pool objects were still alive after the device-lost hook");
    if (v.deviceResetHook) v.deviceResetHook();
}

// Runs the hooks of the queued letter presses, presses made during them included. Until the
// program has stored its first letter hook (a scripted key during start-up), presses wait for
// it, a few at most, instead of being lost; after that a letter without a hook does nothing.
void runKeyHooks() {
    constexpr std::size_t mostWaitingPresses = 16;
    const EngineHook* const hooks = variables().letterHooks;
    if (std::none_of(hooks, hooks + letterCount, [](EngineHook hook) { return hook != nullptr; })) {
        if (runtime.pendingPresses.size() > mostWaitingPresses)
            runtime.pendingPresses.resize(mostWaitingPresses);
        return;
    }
    while (!runtime.pendingPresses.empty() && !runtime.ended) {
        const int letter = runtime.pendingPresses.front();
        runtime.pendingPresses.pop_front();
        const EngineHook hook = hooks[letter];
        if (!hook) continue;
        if (runtime.hookDepth == 0) runtime.framesInHook = 0;
        ++runtime.hookDepth;
        hook();
        --runtime.hookDepth;
    }
}

void drawFrame() {
    EngineVariables& v = variables();
    const Projection projection = settingsProjection(runtime.width, runtime.height);
    viewMatrix(v.camera, v.viewMatrix);
    projectionMatrix(projection, v.projectionMatrix);

    const SkyView sky{
        runtime.sky,       runtime.sunColour,    fromEngineNumber(v.anglePair[0]), fromEngineNumber(v.anglePair[1]),
        fromEngineNumber(v.sunSize), fromEngineNumber(v.horizonHaze)};
    drawSky(runtime.device, v.camera, projection, sky);
    if (v.renderHook) v.renderHook();
    drawOverlay(runtime.device, runtime.width, runtime.height, panels(), queuedTexts());
    queuedTexts().clear();
    showQueuedMessageBoxes();
    if (runtime.window) {
        d3d9gl::presentToWindow(runtime.device);
    } else {
        d3d9gl::publishWrites(runtime.device);
    }
}

// A frame that a key hook draws runs while the hook may hold locks that the workers need, so no
// message box waits for an answer in it.
class HookFrameBoxes {
public:
    explicit HookFrameBoxes(bool inHook) : inHook_(inHook) {
        if (inHook_) setMessageBoxesMayWait(false);
    }
    ~HookFrameBoxes() {
        if (inHook_) setMessageBoxesMayWait(true);
    }
    HookFrameBoxes(const HookFrameBoxes&) = delete;
    HookFrameBoxes& operator=(const HookFrameBoxes&) = delete;

private:
    bool inHook_;
};

} // namespace

} // namespace engine

using namespace engine;

EngineSlotTable* engine_open(const char* commandLine, void* /*reserved*/) {
    if (runtime.open) return slotTable();
    runtime.open = true;
    readEngineCommandLine(commandLine);
    resetVariables();
    runtime.width = hostOptions().width;
    runtime.height = hostOptions().height;
    keepFreedMemoryForReuse();
    openDevice();

    EngineVariables& v = variables();
    if (runtime.device) {
        v.shaderCapability = hostOptions().shaderCapability.value_or(toEngineNumber(3030));
        runRecord().renderer = d3d9gl::rendererName(runtime.device);
        diagnostic("renderer: " + runRecord().renderer);
    }
    trace::nameThisThread("main");
    trace::setMetadata("renderer", runRecord().renderer);
    trace::setMetadata("back buffer",
                       std::to_string(runtime.width) + "x" + std::to_string(runtime.height));
    setSlotTableDevice(runtime.device);
    runtime.fixedFrameDuration = fixedFrameDuration();
    runtime.openTime = runtime.lastFrameStart = Clock::now();
    return slotTable();
}

int engine_frame() {
    if (!runtime.open || runtime.ended) return 0;
    if (!runtime.device) {
        endEngine();
        return 0;
    }
    waitForFrameRateLimit();
    // Frames inside a key hook are a tower's progress frames (and its first and closing ones).
    const trace::Slice frameSlice(runtime.hookDepth > 0 ? "progress frame" : "frame");
    const HookFrameBoxes boxes(runtime.hookDepth > 0);
    const Clock::time_point frameStart = Clock::now();
    // Frames drawn inside a key hook (a tower's progress frames, as many as its work takes) do
    // not count: scripts and the frame limit count the same frames on a fast or slow machine.
    const bool counted = runtime.hookDepth == 0;
    if (counted) ++runtime.frameNumber;
    if (runRecord().framesDrawn == 0) runtime.firstFrameStart = frameStart;
    EngineVariables& v = variables();
    // The running time stays real time: the program measures its work by it.
    v.frameDuration =
        runtime.fixedFrameDuration.value_or(ticks(frameStart - runtime.lastFrameStart));
    v.runningTime = ticks(frameStart - runtime.openTime);
    runtime.lastFrameStart = frameStart;

    if (!readInput()) {
        endEngine();
        return 0;
    }
    if (counted) {
        const int lossFrame = hostOptions().deviceLossFrame;
        if (lossFrame > 0 && !runtime.deviceLossDone && runtime.frameNumber >= lossFrame) {
            runtime.deviceLossDone = true;
            simulateDeviceLoss();
        }
        runKeyHooks();
        if (runtime.ended) return 0;
    } else if (++runtime.framesInHook == hostOptions().deviceLossTowerFrame + 1 &&
               runRecord().towerDeviceLossArmed) {
        // A tower's progress frame, drawn while its workers run: the program's hooks must cope.
        runRecord().towerDeviceLossArmed = false;
        simulateDeviceLoss();
    }

    drawFrame();
    RunRecord& run = runRecord();
    ++run.framesDrawn;
    run.drawingSeconds = seconds(Clock::now() - runtime.firstFrameStart);

    const int frameLimit = hostOptions().frameLimit;
    if (frameLimit > 0 && counted && runtime.frameNumber >= frameLimit) {
        endEngine();
        return 0;
    }
    return 1;
}

std::int64_t engine_frames_drawn() {
    return runRecord().framesDrawn;
}

void sys_exit(const char* message) {
    if (message && std::string_view(message).find_first_not_of(' ') != std::string_view::npos)
        reportProblem(message);
    endEngine();
}

void level_load(const char* fileName) {
    const std::string name = fileName ? fileName : "(null)";
    runtime.sky = defaultSky;
    runtime.sunColour = defaultSunColour;

    const files::FileRead file = files::readBoundedFile(name, maxLevelFileSize);
    const LevelParse parsed =
        file.ok() ? parseLevel(file.bytes) : LevelParse{std::nullopt, file.problem};
    if (!parsed.level) {
        reportProblem(name + ": " + parsed.error + "; the level is empty");
        return;
    }
    const Level& level = *parsed.level;
    EngineVariables& v = variables();
    if (level.sky) runtime.sky = *level.sky;
    if (level.sun) {
        runtime.sunColour = level.sun->colour;
        v.anglePair[0] = level.sun->azimuth;
        v.anglePair[1] = level.sun->elevation;
    }
    if (level.camera) {
        v.camera.position = EngineVector{level.camera->x, level.camera->y, level.camera->z};
        v.camera.angles = EngineVector{level.camera->pan, level.camera->tilt, level.camera->roll};
    }
    diagnostic("loaded the level " + name);
}
