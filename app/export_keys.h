// Key E and the exports the command line asks for: the Tower written out for other tools
// (view/tower_export.h).
#pragma once

#include <string>

// Key E: writes the Tower to out/tower-N.glb in the folder the run was started in (out/ is
// made when missing), N the first number from 1 whose file does not exist yet. Says where on
// standard output and on screen; a failure is one line on standard error and on screen, and the
// run goes on.
void exportTowerKey();

// After the last frame: --export and --export-density, as the engine hands them over. Each
// says what it wrote on standard output, or what failed on standard error. False when one
// failed.
bool runRequestedExports();

// The line the last key E left, drawn by the main loop for a few seconds after the press;
// empty once that time is over.
const std::string& exportNotice();
void drawExportNotice();
