// Keys M and T: cycle the calculation mode for the next tower, recompile "renderMap.fx".
#pragma once

void nextCalculationMode();
void reloadRenderEffect();
