#include "engine/engine_handles.h"

EngineSlotTable* engineSlotTable;
IDirect3DDevice9* d3dDevice;
EngineBitmap* skinBitmap;
EnginePanel* progressBar;
EnginePanel* progressFrame;
EngineText* hudText;
