// The program's entry and its start-up: open and configure the engine, refuse hardware without
// shader model 3.0, load the level and the ground texture, create the progress panels and the
// statistics text, then hand over to the main loop.
#pragma once

#include "engine/engine.h"

// Shader model 3.0 shows as a capability of at least 3030.0, or exactly 30.0.
bool shaderCapabilityAccepted(EngineNumber capability);

enum class StartUpOutcome {
    running,     // configured; the main loop comes next
    refused,     // the hardware lacks shader model 3.0; the engine has been ended
    engineEnded, // the engine ended during start-up's last frame
};

StartUpOutcome startUp();

// The program's entry: start-up, then the main loop until the engine ends, then the exports
// the command line asks for. Returns 0; 1 when an export failed; -1 after refusing the
// hardware.
int gorvaneMain();
