// The engine's own drawing into the device's back buffer: the sky with its sun before the
// render hook, the panels and texts after it. Main thread only, with OpenGL through the
// device's context for that thread.
#pragma once

#include "engine/engine.h"
#include "platform/engine/camera_math.h"
#include "platform/engine/engine_objects.h"
#include "platform/engine/level_format.h"

#include <string>
#include <vector>

namespace engine {

struct SkyView {
    LevelSky colours;
    LevelColour sunColour;
    double sunAzimuth;   // degrees
    double sunElevation; // degrees
    double sunDiameter;  // minutes of arc
    double hazeHeight;   // degrees
};

// Clears depth and stencil and fills the back buffer with the sky as seen by `camera`.
void drawSky(IDirect3DDevice9* device, const EngineCamera& camera, const Projection& projection,
             const SkyView& sky);

// Draws the visible panels (lower layers first) and then the texts over them.
void drawOverlay(IDirect3DDevice9* device, int width, int height,
                 const std::vector<PanelObject*>& panels, const TextQueue& texts);

// The grey level of a message box's body (red, green and blue alike), by which a test finds it.
constexpr int messageBoxBodyLevel = 240;

// Draws a message box, opaque, in the middle of the back buffer over what it holds: the caption
// on a title bar, the text (its lines broken to fit, the end left out where they would not),
// and an OK button that, when `waitsForAnswer`, asks for a key or a click. Drawing the same box
// again gives the same pixels.
void drawMessageBox(IDirect3DDevice9* device, int width, int height, const std::string& caption,
                    const std::string& text, bool waitsForAnswer);

} // namespace engine
