// The handles start-up takes from the engine for the whole run: the slot table, its Direct3D
// device, the ground texture, the progress panels and the statistics text. Defined here, set
// once by start-up and never released; the generation, scheduling and rendering code reads
// them.
#pragma once

#include "engine/engine.h"

extern EngineSlotTable* engineSlotTable;
// The engine's device, taken once and used unchanged across device resets.
extern IDirect3DDevice9* d3dDevice;
// "mud02.bmp", mip-mapped; its texture is the terrain's skin.
extern EngineBitmap* skinBitmap;
// The progress bar (its horizontal scale shows the fraction of a tower done) and its frame.
extern EnginePanel* progressBar;
extern EnginePanel* progressFrame;
// The one text object every statistics line is composed in.
extern EngineText* hudText;
