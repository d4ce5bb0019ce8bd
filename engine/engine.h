// The engine interface the program includes: functions, the slot table and its positions, and
// the fields of the engine objects that the program writes. The engine library behind it is
// platform/engine/.
//
// Numbers cross the interface as EngineNumber (22.10 fixed point: the value times 1024).
// The slot table is an array of pointer-sized entries; the byte position p of a 32-bit build
// is entry p / 4 here (engineSlot() below). Every entry points to the engine variable or hook
// slot, except the camera (2328) and the Direct3D device (2716), which are the objects
// themselves.
#pragma once

#include <cstdint>
#include <limits>

struct IDirect3DDevice9;
struct IDirect3DTexture9;

using EngineNumber = std::int32_t;

// The real number an EngineNumber stands for (exact: every EngineNumber is a double).
constexpr double fromEngineNumber(EngineNumber number) {
    return number / 1024.0;
}

// value * 1024 truncated toward zero; values beyond the range saturate, NaN becomes 0.
constexpr EngineNumber toEngineNumber(double value) {
    constexpr EngineNumber largest = std::numeric_limits<EngineNumber>::max();
    constexpr EngineNumber smallest = std::numeric_limits<EngineNumber>::min();
    const double stored = value * 1024.0;
    if (stored != stored) return 0;
    if (stored >= static_cast<double>(largest)) return largest;
    if (stored <= static_cast<double>(smallest)) return smallest;
    return static_cast<EngineNumber>(stored); // the conversion truncates toward zero
}

struct EngineVector {
    EngineNumber x, y, z;
};

using EngineHook = void (*)();
using EngineSlotTable = void*;

// Positions in the slot table (bytes of the 32-bit layout).
//
// What this engine makes of its free choices:
// - Angles are degrees. Pan turns about the up axis (pan 90 faces +y), tilt raises the view
//   (tilt 90 faces +z), roll banks about the view direction (positive lifts the left side).
// - Colours are vectors (red, green, blue) with channels 0..255.
// - str_for_num writes the number with three decimals, rounded to nearest ("12.500", "-0.125").
// - Settings: see the positions below. A setting outside its range is clamped when used.
// - Inputs: the arrow keys Left/Right and Page Up/Page Down turn (turnInputA); the mouse turns
//   while its left button is held (turnInputB, 0.2 per pixel); Shift is the speed-up input;
//   Space moves up, Ctrl down; the Up arrow is the second forward key.
// - The angle pair is the sun: [0] its azimuth (measured like pan), [1] its elevation above
//   the horizon, both in degrees. level_load sets it from the level; the program animates it.
// - vec_accelerate steps by T, the last frame's duration in ticks (at most settingMaxTimeStep):
//   speed += acceleration * T - min(friction * T, 1) * speed; distance = speed * T.
// - The command line of engine_open: "-diag" prints diagnostics on standard error, "-nx N"
//   keeps at most N draw_text calls per frame (default 256), "-nwnd" presents to the window
//   without waiting for the display's retrace. Escape or closing the window ends the engine.
// - The level format is described in platform/engine/LEVEL_FORMAT.md.
namespace EnginePos {
// The frame duration is the engine's time step: the real duration of the last frame in a
// window, a fixed step (--time-step, 1/60 s by default) headless, so scripted runs repeat
// exactly. The running time is always real time since engine_open, like timer().
constexpr int frameDuration = 80;         // last frame's duration, ticks of 1/16 s
constexpr int runningTime = 96;           // running time, ticks of 1/16 s
constexpr int settingFieldOfView = 108;   // horizontal field of view, degrees (default 90)
constexpr int settingNearClip = 112;      // near clip distance (default 1.0); far is 30000
constexpr int settingFrameRateLimit = 332; // frames per second at most; 0: no limit (default 0)
constexpr int settingHorizonHaze = 436;   // haze band over the horizon, degrees high (default 5)
constexpr int settingMaxTimeStep = 444;   // longest vec_accelerate step, ticks (default 0: any)
constexpr int settingSunSize = 612;       // sun disc diameter, minutes of arc (default 32)
constexpr int turnInputB = 320;           // x/y turn input (mouse)
constexpr int turnInputA = 400;           // x/y turn input (keys)
constexpr int speedUpInput = 408;         // movement speed-up input (Shift)
constexpr int shaderCapability = 548;     // shader model number, e.g. 3030.0
constexpr int anglePair = 772;            // sun azimuth and elevation, degrees (2 numbers)
constexpr int letterKeyState = 1320;      // + 4k for letter k (A = 0): 1.0 held, else 0
constexpr int keyUp = 1448;               // Space
constexpr int keyDown = 1452;             // Ctrl
constexpr int keySecondForward = 1592;    // Up arrow
constexpr int letterKeyHook = 1820;       // + 4k for letter k: hook called once per press; a
                                          // press made before the program stores its first
                                          // hook waits for it
constexpr int deviceLostHook = 2228;
constexpr int deviceResetHook = 2232;
constexpr int renderHook = 2244;
constexpr int camera = 2328;              // the camera object itself
constexpr int viewMatrix = 2564;          // 16 floats
constexpr int projectionMatrix = 2572;    // 16 floats
constexpr int device = 2716;              // the IDirect3DDevice9 itself
} // namespace EnginePos

constexpr int engineLetter(char upper) { return upper - 'A'; }

// The entry at byte position `position` of the 32-bit layout.
inline void*& engineSlot(EngineSlotTable* table, int position) {
    return table[position / 4];
}

// The engine variable of type T at byte position `position` (not for the device entry, which
// is the device itself).
template <class T> T& engineVariable(EngineSlotTable* table, int position) {
    return *static_cast<T*>(engineSlot(table, position));
}

// Objects. Field comments give their byte positions in the 32-bit layout.
struct EngineCamera {
    EngineVector position; // byte 40: x, y, z
    EngineVector angles;   // byte 52: pan, tilt, roll (degrees)
};

struct EngineBitmap {
    int width;
    int height;
    IDirect3DTexture9* texture; // byte 36: the bitmap's texture once preloaded
};

struct EnginePanel {
    EngineNumber x;          // byte 20
    EngineNumber y;          // byte 24
    std::uint32_t flags;     // byte 28; panelVisible shows the panel
    EngineBitmap* bitmap;    // byte 36
    EngineNumber scaleX;     // byte 40, horizontal scale
    EngineNumber width;      // byte 60
    EngineNumber height;     // byte 64
    EngineNumber layer;
};
constexpr std::uint32_t panelVisible = 0x4000;

struct EngineText {
    char* characters; // byte 12
    int capacity;
};

// Functions.
EngineSlotTable* engine_open(const char* commandLine, void* reserved);
int engine_frame();
// Frames engine_frame has drawn since engine_open, those drawn inside key hooks included (an
// addition of this engine: a hook can tell whether any frame was drawn since it last looked).
std::int64_t engine_frames_drawn();
void sys_exit(const char* message);
void level_load(const char* fileName);

EngineBitmap* bmap_create(const char* fileName);
void bmap_to_mipmap(EngineBitmap* bitmap);
void bmap_preload(EngineBitmap* bitmap);
EngineBitmap* bmap_createblack(EngineNumber width, EngineNumber height, EngineNumber depth);
void bmap_fill(EngineBitmap* bitmap, const EngineVector* colour, EngineNumber opacity);

EnginePanel* pan_create(const char* definition, EngineNumber layer);

EngineText* str_create(const char* definition);
void str_cpy(EngineText* text, const char* characters);
void str_cat(EngineText* text, const char* characters);
void str_for_num(EngineText* text, EngineNumber number);
void draw_text(const char* characters, EngineNumber x, EngineNumber y, const EngineVector* colour);

EngineVector* _vec(float x, float y, float z);
void vec_accelerate(EngineVector* distance, EngineVector* speed, const EngineVector* acceleration,
                    EngineNumber friction);
void vec_rotate(EngineVector* vector, const EngineVector* angles);
void vec_add(EngineVector* a, const EngineVector* b);
EngineNumber sinv(EngineNumber angle);
EngineNumber maxv(EngineNumber a, EngineNumber b);
// Microseconds since the calling thread's previous call (each thread keeps its own interval).
EngineNumber timer();

// This engine's hand-over of the executable's export options: the file of --export and the
// folder of --export-density as absolute paths, "" when not given; and the folder the run was
// started in (the working directory is the data folder by then), where outputs named by the
// program go.
const char* engine_export_file();
const char* engine_export_density_folder();
const char* engine_start_folder();
