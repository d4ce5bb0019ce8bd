// The Tower taken out to other tools: its meshes as glTF binary (.glb), binary PLY or OBJ, and
// each block's density field as raw floats with an index.json that places them.
//
// The files use glTF's frame: right-handed with y up, in the renderer's world units. The
// renderer's frame (Direct3D's) is left-handed with y up, so z is mirrored and every face's
// winding reversed: the terrain is not mirrored, and faces turn counter-clockwise towards their
// front (the open side), as glTF expects.
//
// Every export runs on the main thread while no tower is being created.
#pragma once

#include "platform/files/whole_file_writer.h"
#include "terrain/terrain_state.h"

#include <optional>
#include <string>

enum class TowerFormat { glb, ply, obj };

// The format a file name asks for by its extension; none for another extension.
std::optional<TowerFormat> towerFormatOf(const std::string& path);

// What an export did, in one line for standard output (written) or standard error (not).
struct ExportOutcome {
    bool written;
    std::string message;
};

// Writes every block that has triangles to `path` in the format its extension names: in .glb
// one mesh per block, placed by its node as the renderer places it; in .ply and .obj the whole
// Tower as one mesh in world positions, each block's indices offset by the vertices before it.
// A file is written whole or not at all; with ExistingFile::keep an existing one is kept and
// the export fails.
ExportOutcome exportTower(const std::string& path,
                          files::ExistingFile existing = files::ExistingFile::replace);

// Writes, into `folder` (made if only it is missing), the density field of every block that has
// triangles, as block-X-Y-Z.f32: densityFloatsPerSlot little-endian float32 in the
// DensityReadback order, from the block's density pass run again over the current noise volume
// (nothing the Tower's own passes count or keep changes). index.json, written last, names each
// file's block, placement and axes.
ExportOutcome exportTowerDensity(const std::string& folder);

// Where glTF's frame has a point or direction of the renderer's frame: z mirrored.
struct ExportPoint {
    float x, y, z;
};
constexpr ExportPoint exportFrame(float x, float y, float z) {
    return {x, y, -z};
}
