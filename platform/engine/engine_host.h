// The executable's own options, read by main before the program's entry opens the engine, and
// what the run leaves for main to report at exit.
//
// The options, their values and their meaning are one table in host_options.cpp, from which
// both parsing and `gorvane --help` come; a new option is a row there (and a field of
// HostOptions).
// The engine hands --export and --export-density to the program through engine/engine.h.
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
const char* engineHostTracePath();      // null when --trace was not given
// True when the screenshot was asked for and could not be written completely (the problem was
// reported on standard error); the run must not pass for a clean one.
bool engineHostScreenshotFailed();
std::int64_t engineHostFramesRun();     // frames drawn, nested frames included
double engineHostAverageFps();          // frames per second over the frames drawn
const char* engineHostRendererName();   // the OpenGL renderer; empty before the device opens
