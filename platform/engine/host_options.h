// The host's options as parsed from the command line (see engine_host.h for their meaning).
#pragma once

#include "engine/engine.h"
#include "platform/engine/key_script.h"

#include <optional>
#include <string>
#include <vector>

namespace engine {

struct HostOptions {
    bool headless = false;
    int width = 1280;
    int height = 720;
    std::string dataDirectory; // empty: look for one
    std::vector<KeyHold> keyScript;
    bool keyScriptGiven = false; // --keys: a scripted run, where no message box waits
    int frameLimit = 0; // 0: no limit
    std::string screenshotPath;
    std::string statsPath;
    std::string exportPath;             // --export: .glb, .ply or .obj
    std::string exportDensityDirectory; // --export-density
    std::string startDirectory;         // the working directory before the data directory
    std::string tracePath; // empty: nothing is recorded
    int deviceLossFrame = 0; // 0: none
    int deviceLossTowerFrame = 0; // --device-loss-in-tower; 0: none
    std::optional<EngineNumber> shaderCapability;
    // Seconds each frame advances the engine's time; 0: real time. Unset: 1/60 s headless,
    // real time in a window.
    std::optional<double> timeStep;
};

struct HostOptionsParse {
    HostOptions options;
    bool helpRequested = false;
    std::string error; // empty when the options are good
};

// Parses argv[1..argc-1]. Reads the key script's file for "--keys @FILE"; touches nothing else.
HostOptionsParse parseHostOptions(int argc, const char* const* argv);

// The options of the current run (defaults until engineHostConfigure succeeds).
const HostOptions& hostOptions();

} // namespace engine
