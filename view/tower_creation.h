// Key C: a new tower. Refills the noise volume, resets the statistics, shares the 512 blocks
// between two worker threads and shows the progress every 5 seconds until both have ended.
#pragma once

#include "platform/win32/windows.h"
#include "terrain/terrain_state.h"

void createTower();

// True while createTower runs (its frames may deliver another C, which is then ignored).
bool towerBeingCreated();

// How long the waiting loop sleeps between two progress frames, in milliseconds: 5000. Tests
// shorten it to see progress frames of small towers.
extern DWORD towerProgressIntervalMs;

// The share of each worker: x 0..3 (slot 0) and x 4..7 (slot 1), every y and z. Tests narrow
// them to build a small tower; blocks outside both keep their state.
extern BlockRange towerShares[workerCount];
