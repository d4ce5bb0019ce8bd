// A headless engine run, frame by frame: the slot table, scripted keys and their hooks, the
// simulated device loss, panels and texts in the back buffer, bitmaps and levels from files,
// and the end of the run with its screenshot. The tests share one engine and run in order.
#include "engine/engine.h"
#include "platform/d3d9/gl_device.h"
#include "platform/engine/camera_math.h"
#include "platform/engine/engine_objects.h"
#include "platform/engine/engine_host.h"
#include "platform/engine/level_format.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr EngineNumber one = 1024;
constexpr int width = 320, height = 240;
constexpr int letterC = 2, letterM = 12, letterZ = 25;
constexpr EngineNumber headlessFrameDuration = toEngineNumber(16.0 / 60); // ticks of 1/16 s

EngineSlotTable* table = nullptr;
IDirect3DDevice9* device = nullptr;
fs::path screenshot;

template <typename T> T& at(int position) {
    return *static_cast<T*>(engineSlot(table, position));
}

struct Pixel {
    int red, green, blue, alpha;
};

struct Image {
    std::vector<std::uint8_t> rgba;
    Pixel at(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
    }
};

Image backBuffer() {
    Image image;
    EXPECT_EQ(d3d9gl::readBackBuffer(device, image.rgba), S_OK);
    EXPECT_EQ(image.rgba.size(), std::size_t(width) * height * 4);
    return image;
}

bool isColour(const Pixel& p, int red, int green, int blue) {
    return std::abs(p.red - red) <= 2 && std::abs(p.green - green) <= 2 &&
           std::abs(p.blue - blue) <= 2;
}

bool isTextGreen(const Pixel& p) {
    return p.green > 200 && p.red < 100 && p.blue < 100;
}

int textGreenPixels(const Image& image, int left, int top, int right, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            count += isTextGreen(image.at(x, y));
    return count;
}

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// What the hooks saw.
struct FrameInputs {
    EngineNumber letterC, letterM, letterZ, up, down, secondForward, speedUp;
    EngineVector turnKeys;
};
std::vector<FrameInputs> renderCalls;
std::vector<char> hookOrder;
std::vector<std::thread::id> hookThreads;
std::vector<int> nestedFrameResults;
EngineNumber letterCInItsHook = 0;

void recordRender() {
    renderCalls.push_back(FrameInputs{
        at<EngineNumber>(EnginePos::letterKeyState + 4 * letterC),
        at<EngineNumber>(EnginePos::letterKeyState + 4 * letterM),
        at<EngineNumber>(EnginePos::letterKeyState + 4 * letterZ),
        at<EngineNumber>(EnginePos::keyUp),
        at<EngineNumber>(EnginePos::keyDown),
        at<EngineNumber>(EnginePos::keySecondForward),
        at<EngineNumber>(EnginePos::speedUpInput),
        at<EngineVector>(EnginePos::turnInputA),
    });
}

// Like the program's key-C hook: it runs frames of its own.
void hookC() {
    letterCInItsHook = at<EngineNumber>(EnginePos::letterKeyState + 4 * letterC);
    hookOrder.push_back('C');
    hookThreads.push_back(std::this_thread::get_id());
    for (int i = 0; i < 3; ++i)
        nestedFrameResults.push_back(engine_frame());
}
void hookM() {
    hookOrder.push_back('M');
    hookThreads.push_back(std::this_thread::get_id());
}
void hookZ() {
    hookOrder.push_back('Z');
    hookThreads.push_back(std::this_thread::get_id());
}

class EngineRun : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("GORVANE_GL_DEBUG", "abort", 1);
        screenshot = fs::temp_directory_path() /
                     ("gorvane_engine_frame_test_" + std::to_string(::getpid()) + ".png");
        const std::string screenshotArgument = screenshot.string();
        const char* argv[] = {"engine_frame_test",
                              "--headless",
                              "--size",
                              "320x240",
                              "--data",
                              GORVANE_DATA_DIR,
                              "--keys",
                              "2:C,4:Z,6-8:M,7:Space,7:Ctrl,7:Up,7:Shift,7:Right,7:PageUp",
                              "--device-loss-at",
                              "10",
                              "--frames",
                              "40",
                              "--screenshot",
                              screenshotArgument.c_str(),
                              "--shader-capability",
                              "4000.5"};
        ASSERT_EQ(engineHostConfigure(16, const_cast<char**>(argv)), 0);
        table = engine_open("-nx 160", nullptr);
        device = static_cast<IDirect3DDevice9*>(engineSlot(table, EnginePos::device));
    }
};

TEST_F(EngineRun, SlotTableHoldsTheEnginesVariablesCameraAndDevice) {
    ASSERT_NE(table, nullptr);
    ASSERT_NE(device, nullptr) << "no headless OpenGL 4.5 device";
    EXPECT_STRNE(engineHostRendererName(), "");
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(
        device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        S_OK);
    texture->Release();

    EXPECT_EQ(at<EngineNumber>(EnginePos::shaderCapability), 4096512); // 4000.5

    // The camera entry is the camera itself; level_load places it where the level says.
    level_load("level.wmb");
    const engine::LevelParse level =
        engine::parseLevel(fileBytes(fs::path(GORVANE_DATA_DIR) / "level.wmb"));
    ASSERT_TRUE(level.level && level.level->camera && level.level->sun);
    const auto& camera = *static_cast<EngineCamera*>(engineSlot(table, EnginePos::camera));
    EXPECT_EQ(camera.position.x, level.level->camera->x);
    EXPECT_EQ(camera.position.z, level.level->camera->z);
    EXPECT_EQ(camera.angles.x, level.level->camera->pan);
    EXPECT_EQ(camera.angles.y, level.level->camera->tilt);
    const EngineNumber* anglePair = &at<EngineNumber>(EnginePos::anglePair);
    EXPECT_EQ(anglePair[0], level.level->sun->azimuth);
    EXPECT_EQ(anglePair[1], level.level->sun->elevation);

    at<EngineNumber>(EnginePos::settingFieldOfView) = 100 * one;
    ASSERT_EQ(engine_frame(), 1); // frame 1
    // Headless frames last 1/60 s of the engine's time however long they take.
    EXPECT_EQ(at<EngineNumber>(EnginePos::frameDuration), headlessFrameDuration);
    EXPECT_GE(at<EngineNumber>(EnginePos::runningTime), 0);

    float view[16], projection[16];
    engine::viewMatrix(camera, view);
    engine::projectionMatrix(engine::settingsProjection(width, height), projection);
    const float* tableView = &at<float>(EnginePos::viewMatrix);
    const float* tableProjection = &at<float>(EnginePos::projectionMatrix);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(tableView[i], view[i]) << i;
        EXPECT_EQ(tableProjection[i], projection[i]) << i;
    }
    EXPECT_NEAR(tableProjection[0], 1 / std::tan(50 * std::numbers::pi / 180),
                1e-6); // 100 degrees across
}

TEST_F(EngineRun, LetterHooksRunOncePerPressOnTheMainThread) {
    at<EngineHook>(EnginePos::letterKeyHook + 4 * letterC) = hookC;
    at<EngineHook>(EnginePos::letterKeyHook + 4 * letterM) = hookM;
    at<EngineHook>(EnginePos::letterKeyHook + 4 * letterZ) = hookZ;
    at<EngineHook>(EnginePos::renderHook) = recordRender;

    // Frame 2 presses C, whose hook draws three frames of its own; they read the keys of frame
    // 2 and do not count, so Z comes in frame 4 and M is held through frames 6 to 8.
    for (int frame = 2; frame <= 9; ++frame)
        ASSERT_EQ(engine_frame(), 1) << frame;
    at<EngineHook>(EnginePos::renderHook) = nullptr;

    EXPECT_EQ(hookOrder, (std::vector<char>{'C', 'Z', 'M'}));
    for (const std::thread::id thread : hookThreads)
        EXPECT_EQ(thread, std::this_thread::get_id());
    EXPECT_EQ(nestedFrameResults, (std::vector<int>{1, 1, 1}));

    // Render calls: the three frames inside C's hook, then frames 2 to 9.
    EXPECT_EQ(letterCInItsHook, one);
    ASSERT_EQ(renderCalls.size(), 11u);
    for (int call : {0, 1, 2, 3})
        EXPECT_EQ(renderCalls[call].letterC, one) << call;
    EXPECT_EQ(renderCalls[4].letterC, 0);
    EXPECT_EQ(renderCalls[5].letterZ, one);
    EXPECT_EQ(renderCalls[6].letterZ, 0);
    for (int call : {7, 8, 9})
        EXPECT_EQ(renderCalls[call].letterM, one) << call;
    EXPECT_EQ(renderCalls[10].letterM, 0);

    const FrameInputs& frame7 = renderCalls[8];
    EXPECT_EQ(frame7.up, one);
    EXPECT_EQ(frame7.down, one);
    EXPECT_EQ(frame7.secondForward, one);
    EXPECT_EQ(frame7.speedUp, one);
    EXPECT_EQ(frame7.turnKeys.x, one);
    EXPECT_EQ(frame7.turnKeys.y, one);
    const FrameInputs& frame8 = renderCalls[9];
    EXPECT_EQ(frame8.up, 0);
    EXPECT_EQ(frame8.speedUp, 0);
    EXPECT_EQ(frame8.turnKeys.x, 0);
}

IDirect3DTexture9* defaultPoolTarget = nullptr;
std::vector<std::string> deviceEvents;

void lostHook() {
    deviceEvents.push_back("lost, live " + std::to_string(d3d9gl::liveDefaultPoolObjects(device)));
    defaultPoolTarget->Release();
}
void resetHook() {
    deviceEvents.push_back("reset, live " + std::to_string(d3d9gl::liveDefaultPoolObjects(device)));
}

TEST_F(EngineRun, DeviceLossCallsTheLostHookResetsThenCallsTheResetHook) {
    ASSERT_EQ(device->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                    D3DPOOL_DEFAULT, &defaultPoolTarget, nullptr),
              S_OK);
    at<EngineHook>(EnginePos::deviceLostHook) = lostHook;
    at<EngineHook>(EnginePos::deviceResetHook) = resetHook;
    testing::internal::CaptureStderr();
    ASSERT_EQ(engine_frame(), 1); // frame 10
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(deviceEvents, (std::vector<std::string>{"lost, live 1", "reset, live 0"}));
    EXPECT_EQ(errors.find("reset failed"), std::string::npos) << errors;

    ASSERT_EQ(engine_frame(), 1); // once only
    EXPECT_EQ(deviceEvents.size(), 2u);
}

EnginePanel* showPanel(EngineNumber layer, int x, int y, int w, int h, int red, int green,
                       int blue) {
    EnginePanel* panel = pan_create(" ", layer);
    panel->bitmap = bmap_createblack(w * one, h * one, 24 * one);
    const EngineVector colour{red * one, green * one, blue * one};
    bmap_fill(panel->bitmap, &colour, 100 * one);
    panel->flags |= panelVisible;
    panel->x = x * one;
    panel->y = y * one;
    panel->width = w * one;
    panel->height = h * one;
    return panel;
}

TEST_F(EngineRun, PanelsByLayerAndTheFramesTextsAppearInTheBackBuffer) {
    EnginePanel* top = showPanel(2 * one, 10, 10, 40, 20, 255, 0, 0);
    showPanel(one, 30, 15, 40, 20, 0, 0, 255); // made later, but a lower layer
    EnginePanel* hidden = showPanel(3 * one, 100, 100, 30, 30, 0, 255, 0);
    hidden->flags &= ~panelVisible;
    EnginePanel* half = showPanel(one, 10, 50, 40, 10, 255, 255, 0);
    half->scaleX = one / 2;
    EXPECT_EQ(top->scaleX, one); // as made

    const EngineVector green{0, 255 * one, 0};
    draw_text("MMMM", 150 * one, 150 * one, &green);
    ASSERT_EQ(engine_frame(), 1);
    Image image = backBuffer();

    EXPECT_TRUE(isColour(image.at(10, 10), 255, 0, 0));
    EXPECT_TRUE(isColour(image.at(49, 29), 255, 0, 0));
    EXPECT_FALSE(isColour(image.at(9, 10), 255, 0, 0));
    EXPECT_FALSE(isColour(image.at(50, 29), 255, 0, 0));
    EXPECT_FALSE(isColour(image.at(10, 9), 255, 0, 0));
    EXPECT_TRUE(isColour(image.at(35, 20), 255, 0, 0)); // the higher layer covers the lower
    EXPECT_TRUE(isColour(image.at(65, 30), 0, 0, 255));
    EXPECT_TRUE(isColour(image.at(69, 34), 0, 0, 255));
    EXPECT_FALSE(isColour(image.at(115, 115), 0, 255, 0));
    EXPECT_TRUE(isColour(image.at(29, 55), 255, 255, 0)); // scaled to half its width
    EXPECT_FALSE(isColour(image.at(30, 55), 255, 255, 0));

    // Four 14-pixel glyphs from (150, 150); nothing else on screen is that green.
    EXPECT_GT(textGreenPixels(image, 150, 150, 190, 170), 40);
    EXPECT_EQ(textGreenPixels(image, 0, 0, width, height),
              textGreenPixels(image, 150, 150, 190, 170));
    EXPECT_EQ(image.at(5, 200).alpha, 255);

    // Texts last one frame.
    ASSERT_EQ(engine_frame(), 1);
    image = backBuffer();
    EXPECT_EQ(textGreenPixels(image, 0, 0, width, height), 0);
    EXPECT_TRUE(isColour(image.at(10, 10), 255, 0, 0)); // panels stay
}

// A frame drawn while the device's render target is another texture (a worker's pass holds
// it): the engine draws into its own back buffer, and the other target and the device's
// render target stay as they were.
TEST_F(EngineRun, TheFrameDrawsIntoTheBackBufferWhateverTargetTheDeviceHolds) {
    IDirect3DTexture9 *workerTarget = nullptr, *copy = nullptr;
    ASSERT_EQ(device->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                    D3DPOOL_DEFAULT, &workerTarget, nullptr),
              S_OK);
    ASSERT_EQ(device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy,
                                    nullptr),
              S_OK);
    IDirect3DSurface9 *workerSurface = nullptr, *copySurface = nullptr, *backSurface = nullptr;
    workerTarget->GetSurfaceLevel(0, &workerSurface);
    copy->GetSurfaceLevel(0, &copySurface);
    device->GetRenderTarget(0, &backSurface);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(9, 8, 7), 1, 0), S_OK);
    ASSERT_EQ(device->SetRenderTarget(0, workerSurface), S_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(1, 2, 3), 1, 0), S_OK);

    ASSERT_EQ(engine_frame(), 1);
    IDirect3DSurface9* held = nullptr;
    device->GetRenderTarget(0, &held);
    EXPECT_EQ(held, workerSurface);
    held->Release();
    ASSERT_EQ(device->GetRenderTargetData(workerSurface, copySurface), S_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(copySurface->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
    int changed = 0;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            static_cast<const std::uint8_t*>(locked.pBits) + y * locked.Pitch);
        for (int x = 0; x < width; ++x)
            changed += row[x] != D3DCOLOR_XRGB(1, 2, 3);
    }
    copySurface->UnlockRect();
    EXPECT_EQ(changed, 0) << "texels of the other target drawn over";
    const Image frame = backBuffer();
    int untouched = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            untouched += isColour(frame.at(x, y), 9, 8, 7);
    EXPECT_EQ(untouched, 0) << "back buffer texels the sky did not cover";
    EXPECT_TRUE(isColour(frame.at(10, 10), 255, 0, 0)); // the panel

    device->SetRenderTarget(0, backSurface);
    for (IUnknown* object : std::initializer_list<IUnknown*>{backSurface, copySurface,
                                                             workerSurface, copy, workerTarget})
        object->Release();
}

TEST_F(EngineRun, BitmapsLoadWithTheirMipChainOrFallBackToAPlainTexture) {
    EngineBitmap* mud = bmap_create("mud02.bmp");
    ASSERT_EQ(mud->width, 256);
    ASSERT_EQ(mud->height, 256);
    bmap_to_mipmap(mud);
    bmap_preload(mud);
    ASSERT_NE(mud->texture, nullptr);
    EXPECT_EQ(mud->texture->GetLevelCount(), 9u);

    // Level 0 is the file's pixels: 24-bit rows, bottom row first, after a 54-byte header.
    const std::vector<std::uint8_t> file = fileBytes(fs::path(GORVANE_DATA_DIR) / "mud02.bmp");
    ASSERT_EQ(file.size(), 54u + 256 * 256 * 3);
    D3DLOCKED_RECT level0{}, level1{};
    ASSERT_EQ(mud->texture->LockRect(0, &level0, nullptr, D3DLOCK_READONLY), S_OK);
    ASSERT_EQ(mud->texture->LockRect(1, &level1, nullptr, D3DLOCK_READONLY), S_OK);
    auto texel = [](const D3DLOCKED_RECT& locked, int x, int y, int channel) {
        return static_cast<const std::uint8_t*>(locked.pBits)[y * locked.Pitch + x * 4 + channel];
    };
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{255, 0}, std::pair{17, 200}}) {
        const std::size_t offset = 54 + (std::size_t(255 - y) * 256 + x) * 3;
        for (int channel = 0; channel < 3; ++channel) // B, G, R in both
            EXPECT_EQ(texel(level0, x, y, channel), file[offset + channel]) << x << "," << y;
        EXPECT_EQ(texel(level0, x, y, 3), 255);
    }
    // Level 1 averages 2 x 2 blocks of level 0.
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{100, 37}, std::pair{127, 127}}) {
        for (int channel = 0; channel < 4; ++channel) {
            const int sum = texel(level0, 2 * x, 2 * y, channel) +
                            texel(level0, 2 * x + 1, 2 * y, channel) +
                            texel(level0, 2 * x, 2 * y + 1, channel) +
                            texel(level0, 2 * x + 1, 2 * y + 1, channel);
            EXPECT_NEAR(texel(level1, x, y, channel), sum / 4.0, 0.5 + 1e-9);
        }
    }
    mud->texture->UnlockRect(0);
    mud->texture->UnlockRect(1);

    const fs::path corrupt = fs::temp_directory_path() / "gorvane_corrupt_test.bmp";
    std::ofstream(corrupt, std::ios::binary) << "BM this is not a bitmap";
    testing::internal::CaptureStderr();
    EngineBitmap* missing = bmap_create("no_such_texture.bmp");
    EngineBitmap* broken = bmap_create(corrupt.string().c_str());
    const std::string errors = testing::internal::GetCapturedStderr();
    fs::remove(corrupt);
    EXPECT_NE(errors.find("no_such_texture.bmp"), std::string::npos) << errors;
    EXPECT_NE(errors.find(corrupt.string()), std::string::npos) << errors;
    for (EngineBitmap* plain : {missing, broken}) {
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(plain->width, 64);
        bmap_to_mipmap(plain);
        bmap_preload(plain);
        EXPECT_NE(plain->texture, nullptr);
    }
}

// A 24-bit BMP of `width` x `height` pixels, colour(x, y) with y = 0 the top row, its rows
// stored bottom-up or top-down (negative height); `rowsGiven` rows follow the header.
template <class Colour>
std::string bmpFile(int width, int height, bool topDown, int rowsGiven, Colour colour) {
    const int rowBytes = (3 * width + 3) / 4 * 4;
    std::string bytes;
    auto put = [&bytes](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    bytes += "BM";
    put(54 + rowBytes * height, 4);
    put(0, 4);
    put(54, 4); // pixel data offset
    put(40, 4); // info header size
    put(static_cast<std::uint32_t>(width), 4);
    put(static_cast<std::uint32_t>(topDown ? -height : height), 4);
    put(1, 2);  // planes
    put(24, 2); // bits per pixel
    put(0, 4);  // no compression
    put(static_cast<std::uint32_t>(rowBytes * height), 4);
    put(2835, 4);
    put(2835, 4);
    put(0, 4);
    put(0, 4);
    for (int stored = 0; stored < rowsGiven; ++stored) {
        const int y = topDown ? stored : height - 1 - stored;
        for (int x = 0; x < width; ++x) {
            const std::array<int, 3> rgb = colour(x, y);
            bytes += static_cast<char>(rgb[2]);
            bytes += static_cast<char>(rgb[1]);
            bytes += static_cast<char>(rgb[0]);
        }
        bytes.append(static_cast<std::size_t>(rowBytes - 3 * width), '\0');
    }
    return bytes;
}

TEST_F(EngineRun, BmpRowsRunEitherWayAndMustAllBeThere) {
    constexpr int w = 5, h = 3;
    auto colour = [](int x, int y) { return std::array<int, 3>{40 * x, 80 * y, 200 - 30 * x}; };
    const fs::path folder = fs::temp_directory_path() / ("gorvane_bmp_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    auto write = [&folder](const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return (folder / name).string();
    };
    const std::string bottomUp = write("bottom_up.bmp", bmpFile(w, h, false, h, colour));
    const std::string topDown = write("top_down.bmp", bmpFile(w, h, true, h, colour));
    const std::string shortRows = write("short.bmp", bmpFile(w, h, false, h - 1, colour));
    const std::string headerOnly = write(
        "header_only.bmp", bmpFile(8192, 8192, false, 0, [](int, int) {
            return std::array<int, 3>{};
        }));
    const std::string folderName = (folder / "folder.bmp").string();
    fs::create_directory(folderName);

    testing::internal::CaptureStderr();
    std::vector<const engine::BitmapObject*> loaded;
    for (const std::string& name : {bottomUp, topDown, shortRows, headerOnly, folderName})
        loaded.push_back(static_cast<const engine::BitmapObject*>(bmap_create(name.c_str())));
    const std::string errors = testing::internal::GetCapturedStderr();
    fs::remove_all(folder);

    // Both orders give the same picture, top row first.
    for (const engine::BitmapObject* bitmap : {loaded[0], loaded[1]}) {
        ASSERT_EQ(bitmap->width, w);
        ASSERT_EQ(bitmap->height, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t pixel = bitmap->levels[0][std::size_t(y) * w + x];
                const std::array<int, 3> expected = colour(x, y);
                EXPECT_EQ(pixel, 0xFF000000u | std::uint32_t(expected[0]) << 16 |
                                     std::uint32_t(expected[1]) << 8 | std::uint32_t(expected[2]))
                    << x << "," << y;
            }
        }
    }
    // Missing rows, or a 8192 x 8192 header without pixels, are refused, not shown as black.
    EXPECT_NE(errors.find(shortRows + ": the pixel data is shorter than the header says (32 of "
                                      "47 bytes)"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find(headerOnly + ": the pixel data is shorter than the header says (0 of"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find(folderName + ": is a directory"), std::string::npos) << errors;
    for (const engine::BitmapObject* plain : {loaded[2], loaded[3], loaded[4]}) {
        EXPECT_EQ(plain->width, 64);
        EXPECT_EQ(plain->levels[0][0], 0xFF808080u);
    }
}

TEST_F(EngineRun, MissingOrCorruptLevelsAreReportedAndLeaveTheCamera) {
    auto& camera = *static_cast<EngineCamera*>(engineSlot(table, EnginePos::camera));
    camera.position = {1, 2, 3};
    const fs::path corrupt = fs::temp_directory_path() / "gorvane_corrupt_test.wmb";
    std::ofstream(corrupt, std::ios::binary) << "GWMB\x01";
    testing::internal::CaptureStderr();
    level_load("no_such_level.wmb");
    level_load(corrupt.string().c_str());
    const std::string errors = testing::internal::GetCapturedStderr();
    fs::remove(corrupt);
    EXPECT_NE(errors.find("no_such_level.wmb"), std::string::npos) << errors;
    EXPECT_NE(errors.find(corrupt.string() + ": not a level file"), std::string::npos) << errors;
    EXPECT_EQ(camera.position.x, 1);
    EXPECT_EQ(camera.position.z, 3);
    ASSERT_EQ(engine_frame(), 1); // an empty level draws the engine's own sky
}

TEST_F(EngineRun, EndsAtTheFrameLimitWithAScreenshotOfTheLastFrame) {
    // The running time follows real time, whatever the fixed frame duration.
    const EngineNumber runningBefore = at<EngineNumber>(EnginePos::runningTime);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    int frames = 0;
    while (engine_frame() != 0)
        ++frames;
    EXPECT_EQ(at<EngineNumber>(EnginePos::frameDuration), headlessFrameDuration);
    EXPECT_GE(at<EngineNumber>(EnginePos::runningTime) - runningBefore, toEngineNumber(4));
    EXPECT_LT(frames, 40);
    EXPECT_EQ(engine_frame(), 0); // ended for good
    EXPECT_EQ(engineHostFramesRun(), 43); // the 40 counted and the 3 drawn inside C's hook
    EXPECT_GT(engineHostAverageFps(), 0);

    const Image last = backBuffer();
    int w = 0, h = 0, components = 0;
    stbi_uc* png = stbi_load(screenshot.string().c_str(), &w, &h, &components, 4);
    ASSERT_NE(png, nullptr) << screenshot;
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    for (const auto& [x, y] : {std::pair{10, 10}, std::pair{65, 30}, std::pair{300, 200}}) {
        const std::size_t i = (std::size_t(y) * width + x) * 4;
        EXPECT_EQ(png[i], last.rgba[i]);
        EXPECT_EQ(png[i + 1], last.rgba[i + 1]);
        EXPECT_EQ(png[i + 2], last.rgba[i + 2]);
        EXPECT_EQ(png[i + 3], 255);
    }
    EXPECT_TRUE(isColour(last.at(10, 10), 255, 0, 0));
    stbi_image_free(png);
    fs::remove(screenshot);
}

} // namespace
