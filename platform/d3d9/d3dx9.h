// D3DX 9: the helper library over the Direct3D 9 subset (core, math, meshes, textures and
// effects).
#pragma once

#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9effect.h"
#include "d3dx9math.h"
#include "d3dx9mesh.h"
#include "d3dx9tex.h"
