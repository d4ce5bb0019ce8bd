// The executable's own options, read by main before the program's entry opens the engine, and
// what the run leaves for main to report at exit.
//
//   --headless           draw offscreen through EGL, even where a display exists; without it
//                        the engine opens a window when DISPLAY or WAYLAND_DISPLAY is set and
//                        GLFW starts, and runs headless otherwise
//   --size WxH           back buffer (and window) size, 64..8192 each; default 1280x720
//   --data DIR           the data directory; default: the first "data" folder found beside the
//                        executable or above it, or in the working directory. It becomes the
//                        working directory, so the program's file names are relative to it
//   --keys SCRIPT        scripted keys, e.g. "2:C,10-40:W" (see key_script.h); "@FILE" reads
//                        the script from FILE. A press made before the program stored its first
//                        key hook (during start-up) waits for it
//   --frames N           the engine ends after frame N. Script and limit count the frames drawn
//                        outside key hooks: the progress frames of a tower, however many its
//                        work takes, do not count
//   --screenshot FILE    writes the last frame drawn as a PNG when the engine ends
//   --stats FILE         where main writes the run's statistics (JSON) at exit
//   --device-loss-at N   simulates a device loss in frame N (the first frame from N on that
//                        does not run inside a key hook): device-lost hook, device reset,
//                        device-reset hook
//   --shader-capability X  the number reported at the shader capability position instead of
//                        what the device supports (3030.0 on OpenGL 4.5)
//   --time-step SECONDS  each frame advances the engine's time by SECONDS: the frame duration
//                        the camera movement and animations use is this fixed step, so the same
//                        key script ends at the same camera position on any machine and load.
//                        0 uses real time. Default: 1/60 s headless, real time in a window.
//                        The running time and timer() stay real time: they measure work.
//   --export FILE        the program writes the Tower to FILE after the last frame; FILE ends
//                        in .glb, .ply or .obj (another extension is a bad option)
//   --export-density DIR the program writes each block's density field into DIR after the
//                        last frame
//   The engine hands these two to the program through engine/engine.h.
//   --help               prints the usage
//
// Keys, also in a window: letters, Up, Left, Right, PageUp, PageDown, Shift, Space, Ctrl,
// Escape (ends the engine).
#pragma once

#include <cstdint>

// Parses and stores the options and enters the data directory. Returns 0 when the program
// may start; 1 after --help (usage printed); 2 after a bad option, an unreadable key script or
// a missing data directory (the problem and the usage printed on standard error).
int engineHostConfigure(int argc, char** argv);

// For main at exit.
const char* engineHostStatsPath();      // null when --stats was not given
const char* engineHostScreenshotPath(); // null when --screenshot was not given
// True when the screenshot was asked for and could not be written completely (the problem was
// reported on standard error); the run must not pass for a clean one.
bool engineHostScreenshotFailed();
std::int64_t engineHostFramesRun();     // frames drawn, nested frames included
double engineHostAverageFps();          // frames per second over the frames drawn
const char* engineHostRendererName();   // the OpenGL renderer; empty before the device opens
