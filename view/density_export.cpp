// Each block's density field as raw floats, with index.json placing every file.
#include "view/tower_export.h"

#include "gpu/block_generation.h"
#include "view/tower_export_blocks.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Grid point g of a block's field lies at block coordinate g - 32 on its axis (the cells'
// points 16..48 span -16..16); the mesher takes grid x to x, the slices (grid y) to the
// renderer's z, the rows (grid z) to its y, which glTF's frame mirrors to -z.
constexpr int gridToBlockOffset = densityCellOrigin + blockCellsPerAxis / 2;

nlohmann::ordered_json vectorOf(ExportPoint p) {
    return nlohmann::ordered_json::array({p.x, p.y, p.z});
}

nlohmann::ordered_json blockEntry(int x, int y, int z, const std::string& file) {
    const BlockPlacement placement = blockPlacement(x, y, z);
    const float s = placement.scale;
    const float low = -static_cast<float>(gridToBlockOffset);
    const ExportPoint origin = exportFrame(low, low, low); // grid point (0, 0, 0)
    return {
        {"file", file},
        {"block", {x, y, z}},
        {"scale", s},
        {"translation", vectorOf(placement.translation)},
        {"gridOrigin",
         vectorOf({origin.x * s + placement.translation.x, origin.y * s + placement.translation.y,
                   origin.z * s + placement.translation.z})},
        {"gridSteps", {vectorOf({s, 0, 0}), vectorOf({0, 0, -s}), vectorOf({0, s, 0})}},
    };
}

std::string writeWhole(const fs::path& path, const void* bytes, std::size_t size) {
    files::WholeFileWriter out(path.string());
    out.write(bytes, size);
    return out.commit();
}

} // namespace

ExportOutcome exportTowerDensity(const std::string& folder) {
    const std::string failed = "cannot export the density fields to " + folder + ": ";
    const ExportTotals totals = exportTotals();
    if (totals.blocks == 0) return {false, failed + "there is no Tower yet (press C)"};
    std::error_code error;
    if (!fs::is_directory(folder, error) && !fs::create_directory(folder, error))
        return {false, failed + (error ? error.message() : "not a folder")};

    nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
    std::vector<float> field(densityFloatsPerSlot);
    for (int x = 0; x < towerBlocksPerAxis; ++x)
        for (int y = 0; y < towerBlocksPerAxis; ++y)
            for (int z = 0; z < towerBlocksPerAxis; ++z) {
                if (!blockHasMesh(blockIndex(x, y, z))) continue;
                const std::string file = "block-" + std::to_string(x) + "-" + std::to_string(y) +
                                         "-" + std::to_string(z) + ".f32";
                if (!renderBlockDensity(x, y, z, field.data()))
                    return {false, failed + "the density pass of " + file + " failed"};
                const std::string problem =
                    writeWhole(fs::path(folder) / file, field.data(), field.size() * sizeof(float));
                if (!problem.empty()) return {false, failed + file + ": " + problem};
                blocks.push_back(blockEntry(x, y, z, file));
            }

    const nlohmann::ordered_json index = {
        {"format", "little-endian float32, 64 x 64 x 64 samples a file, no header"},
        {"sampleIndex", "gx + 64 * gy + 4096 * gz"},
        {"gridSize", densityGridSize},
        {"density", "above 0 inside the ground; the surface is where it is 0"},
        {"frame", "glTF's, as the .glb export: right-handed, y up, world units"},
        {"fileAxes", {{{"grid", "gx"}, {"world", "+x"}},
                      {{"grid", "gy"}, {"world", "-z"}},
                      {{"grid", "gz"}, {"world", "+y"}}}},
        {"cellGridPoints", {{"first", densityCellOrigin},
                            {"last", densityCellOrigin + blockCellsPerAxis}}},
        {"margin", "grid points outside first..last on any axis are only approximate: the pass "
                   "computes them coarsely (or not at all, as 0) and they are not the "
                   "neighbouring block's field"},
        {"worldPoint", "gridOrigin + gx * gridSteps[0] + gy * gridSteps[1] + gz * gridSteps[2]"},
        {"blocks", blocks},
    };
    const std::string text = index.dump(2) + "\n";
    const std::string problem = writeWhole(fs::path(folder) / "index.json", text.data(), text.size());
    if (!problem.empty()) return {false, failed + "index.json: " + problem};
    return {true, "wrote the density fields of " + std::to_string(blocks.size()) +
                      " blocks and their index.json to " + folder};
}
