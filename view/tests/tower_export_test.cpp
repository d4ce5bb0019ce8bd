// The exports read back: .glb through tinygltf, .ply and .obj by their own rules, the density
// files against the slots' read-backs, over a tower-like set of blocks in each mode; their bad
// outputs; key E.
//
//   What the renderer drew .............. drawnMeshes
//   Reading each format back ............ readGlb, readPly, readObj, faceTurns
//   The tests ........................... TowerExport
#include "view/tower_export.h"

#include "app/export_keys.h"
#include "platform/win32/msvcrt.h"
#include "tables/lookup_textures.h"
#include "view/terrain_render.h"
#include "view/tests/tower_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tiny_gltf.h>

#include <array>
#include <map>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Two columns of the tower's middle, x = 3 (worker 0) and x = 4 (worker 1), y 3..4, the heights
// 1..3 around the ground: 12 blocks, the last of each worker with a surface.
constexpr BlockRange exportRanges[workerCount] = {{3, 3, 1, 4, 5, 4, 0}, {4, 3, 1, 5, 5, 4, 1}};
constexpr int lastBlocks[workerCount] = {blockIndex(3, 4, 3), blockIndex(4, 4, 3)};

using Vec3 = std::array<double, 3>;

Vec3 minus(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The whole Tower in world positions of glTF's frame, as one vertex and one index list.
struct WorldMesh {
    std::vector<Vec3> positions, normals;
    std::vector<std::array<double, 2>> uvs;
    std::vector<std::uint32_t> indices;
    Vec3 low{1e30, 1e30, 1e30}, high{-1e30, -1e30, -1e30};
    // Read from a .glb: faces with an area, and those whose counter-clockwise normal points
    // away from the sum of their vertices' normals.
    int facesWithArea = 0, facesAgainstNormals = 0;

    void add(const Vec3& position, const Vec3& normal, double u, double v) {
        positions.push_back(position);
        normals.push_back(normal);
        uvs.push_back({u, v});
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], position[a]);
            high[a] = std::max(high[a], position[a]);
        }
    }
};

// What the renderer drew, independently of the export: each mesh through its world matrix,
// z mirrored into glTF's frame.
WorldMesh drawnMeshes() {
    WorldMesh mesh;
    for (int block = 0; block < towerBlockCount; ++block) {
        if (BlockTriangleCounts[block].load() <= 0) continue;
        const D3DXMATRIX world = blockWorldMatrix(block / 64, block / 8 % 8, block % 8);
        void* data = nullptr;
        EXPECT_TRUE(SUCCEEDED(BlockMeshes[block]->LockVertexBuffer(D3DLOCK_READONLY, &data)));
        const auto* vertices = static_cast<const MeshVertex*>(data);
        for (DWORD i = 0; i < BlockMeshes[block]->GetNumVertices(); ++i) {
            // Direct3D's row vector times the matrix.
            Vec3 placed;
            for (int column = 0; column < 3; ++column) {
                placed[column] = world(3, column);
                for (int row = 0; row < 3; ++row)
                    placed[column] += vertices[i].position[row] * world(row, column);
            }
            mesh.add({placed[0], placed[1], -placed[2]}, {}, 0, 0);
        }
        BlockMeshes[block]->UnlockVertexBuffer();
    }
    return mesh;
}

// An accessor's elements as doubles.
std::vector<double> accessorValues(const tinygltf::Model& model, int accessorIndex) {
    const tinygltf::Accessor& accessor = model.accessors.at(accessorIndex);
    const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
    const int components = tinygltf::GetNumComponentsInType(accessor.type);
    const int size = tinygltf::GetComponentSizeInBytes(accessor.componentType);
    const std::size_t stride = view.byteStride != 0 ? view.byteStride : components * size;
    const unsigned char* base =
        model.buffers.at(view.buffer).data.data() + view.byteOffset + accessor.byteOffset;
    std::vector<double> values;
    for (std::size_t i = 0; i < accessor.count; ++i)
        for (int c = 0; c < components; ++c) {
            const unsigned char* at = base + i * stride + c * size;
            if (accessor.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT) {
                float value;
                std::memcpy(&value, at, sizeof value);
                values.push_back(value);
            } else {
                EXPECT_EQ(accessor.componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
                std::uint16_t value;
                std::memcpy(&value, at, sizeof value);
                values.push_back(value);
            }
        }
    return values;
}

// Reads the .glb back: every node's mesh placed by its node into one world mesh, with the
// checks that belong to the file itself (16-bit indices, POSITION bounds), and how many faces
// turn against their vertices' normals.
WorldMesh readGlb(const std::string& path) {
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    EXPECT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, path)) << error << warning;
    WorldMesh world;
    for (const tinygltf::Node& node : model.nodes) {
        EXPECT_EQ(node.scale.size(), 3u);
        EXPECT_EQ(node.translation.size(), 3u);
        if (node.scale.size() != 3 || node.translation.size() != 3) continue;
        const tinygltf::Primitive& primitive = model.meshes.at(node.mesh).primitives.at(0);
        EXPECT_EQ(primitive.mode, TINYGLTF_MODE_TRIANGLES);
        const tinygltf::Accessor& positionAccessor =
            model.accessors.at(primitive.attributes.at("POSITION"));
        const std::vector<double> positions = accessorValues(model, primitive.attributes.at("POSITION"));
        const std::vector<double> normals = accessorValues(model, primitive.attributes.at("NORMAL"));
        const std::vector<double> uvs = accessorValues(model, primitive.attributes.at("TEXCOORD_0"));
        EXPECT_EQ(model.accessors.at(primitive.indices).componentType,
                  TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
        const std::vector<double> indices = accessorValues(model, primitive.indices);

        Vec3 low{1e30, 1e30, 1e30}, high{-1e30, -1e30, -1e30};
        const std::size_t first = world.positions.size();
        for (std::size_t i = 0; i < positionAccessor.count; ++i) {
            Vec3 local, placed;
            for (int a = 0; a < 3; ++a) {
                local[a] = positions[3 * i + a];
                low[a] = std::min(low[a], local[a]);
                high[a] = std::max(high[a], local[a]);
                placed[a] = local[a] * node.scale[a] + node.translation[a];
            }
            world.add(placed, {normals[3 * i], normals[3 * i + 1], normals[3 * i + 2]}, uvs[2 * i],
                      uvs[2 * i + 1]);
        }
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(positionAccessor.minValues.at(a), low[a]) << node.name;
            EXPECT_EQ(positionAccessor.maxValues.at(a), high[a]) << node.name;
        }
        for (std::size_t i = 0; i + 2 < indices.size(); i += 3) {
            std::array<std::uint32_t, 3> corner;
            for (int c = 0; c < 3; ++c) {
                corner[c] = static_cast<std::uint32_t>(first + indices[i + c]);
                world.indices.push_back(corner[c]);
            }
            const Vec3 faceNormal =
                cross(minus(world.positions[corner[1]], world.positions[corner[0]]),
                      minus(world.positions[corner[2]], world.positions[corner[0]]));
            Vec3 vertexNormals{};
            for (std::uint32_t c : corner)
                for (int a = 0; a < 3; ++a)
                    vertexNormals[a] += world.normals[c][a];
            // Faces with no area have no turn to check.
            if (dot(faceNormal, faceNormal) < 1e-6) continue;
            ++world.facesWithArea;
            if (dot(faceNormal, vertexNormals) <= 0) ++world.facesAgainstNormals;
        }
    }
    return world;
}

std::string readAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// Binary little-endian PLY with the vertex properties x y z nx ny nz s t (floats) and faces
// as lists of uchar count and uint indices.
WorldMesh readPly(const std::string& path) {
    const std::string bytes = readAll(path);
    const std::size_t headerEnd = bytes.find("end_header\n");
    EXPECT_NE(headerEnd, std::string::npos);
    std::istringstream header(bytes.substr(0, headerEnd));
    std::string line;
    std::size_t vertices = 0, faces = 0;
    std::getline(header, line);
    EXPECT_EQ(line, "ply");
    std::getline(header, line);
    EXPECT_EQ(line, "format binary_little_endian 1.0");
    while (std::getline(header, line)) {
        if (line.rfind("element vertex ", 0) == 0) vertices = std::stoull(line.substr(15));
        if (line.rfind("element face ", 0) == 0) faces = std::stoull(line.substr(13));
    }
    const char* at = bytes.data() + headerEnd + std::strlen("end_header\n");
    EXPECT_EQ(static_cast<std::size_t>(bytes.data() + bytes.size() - at), vertices * 32 + faces * 13);
    WorldMesh mesh;
    for (std::size_t i = 0; i < vertices; ++i, at += 32) {
        float v[8];
        std::memcpy(v, at, sizeof v);
        mesh.add({v[0], v[1], v[2]}, {v[3], v[4], v[5]}, v[6], v[7]);
    }
    for (std::size_t i = 0; i < faces; ++i, at += 13) {
        EXPECT_EQ(at[0], 3);
        std::uint32_t corner[3];
        std::memcpy(corner, at + 1, sizeof corner);
        mesh.indices.insert(mesh.indices.end(), corner, corner + 3);
    }
    return mesh;
}

// OBJ with v, vn, vt lines and faces of v/vt/vn triples counted from 1; vt's v is flipped back.
WorldMesh readObj(const std::string& path) {
    std::istringstream text(readAll(path));
    std::vector<Vec3> positions, normals;
    std::vector<std::array<double, 2>> uvs;
    std::vector<std::uint32_t> indices;
    std::string keyword;
    while (text >> keyword) {
        // The numbers are floats: read as doubles, their shortest texts would differ.
        if (keyword == "v" || keyword == "vn") {
            float p[3];
            text >> p[0] >> p[1] >> p[2];
            (keyword == "v" ? positions : normals).push_back({p[0], p[1], p[2]});
        } else if (keyword == "vt") {
            float u, v;
            text >> u >> v;
            uvs.push_back({u, 1.0 - v});
        } else if (keyword == "f") {
            for (int c = 0; c < 3; ++c) {
                std::string corner;
                text >> corner;
                const std::uint32_t index = static_cast<std::uint32_t>(std::stoul(corner));
                EXPECT_EQ(corner, std::to_string(index) + "/" + std::to_string(index) + "/" +
                                      std::to_string(index));
                indices.push_back(index - 1);
            }
        } else {
            std::getline(text, keyword); // a comment
        }
    }
    WorldMesh mesh;
    EXPECT_EQ(positions.size(), normals.size());
    EXPECT_EQ(positions.size(), uvs.size());
    for (std::size_t i = 0; i < positions.size() && i < normals.size() && i < uvs.size(); ++i)
        mesh.add(positions[i], normals[i], uvs[i][0], uvs[i][1]);
    mesh.indices = std::move(indices);
    return mesh;
}

// Each face's corners (rounded to 1/100 world unit) in a fixed order, with the turn its own
// order has relative to that one.
using FaceKey = std::array<long, 9>;
std::map<FaceKey, bool> faceTurns(const WorldMesh& mesh) {
    std::map<FaceKey, bool> turns;
    for (std::size_t i = 0; i + 2 < mesh.indices.size(); i += 3) {
        std::array<std::array<long, 3>, 3> corners;
        for (int c = 0; c < 3; ++c)
            for (int a = 0; a < 3; ++a)
                corners[c][a] = std::lround(mesh.positions[mesh.indices[i + c]][a] * 100);
        const int first = static_cast<int>(std::min_element(corners.begin(), corners.end()) -
                                           corners.begin());
        std::array<std::array<long, 3>, 3> key = {corners[first], corners[(first + 1) % 3],
                                                  corners[(first + 2) % 3]};
        const bool ascending = key[1] < key[2];
        if (!ascending) std::swap(key[1], key[2]);
        FaceKey flat;
        for (int c = 0; c < 3; ++c)
            for (int a = 0; a < 3; ++a)
                flat[3 * c + a] = key[c][a];
        turns[flat] = ascending;
    }
    return turns;
}

void expectSameMesh(const WorldMesh& a, const WorldMesh& b, double tolerance, const char* what) {
    ASSERT_EQ(a.positions.size(), b.positions.size()) << what;
    EXPECT_EQ(a.indices, b.indices) << what;
    int different = 0;
    for (std::size_t i = 0; i < a.positions.size(); ++i)
        for (int k = 0; k < 3; ++k)
            if (std::abs(a.positions[i][k] - b.positions[i][k]) > tolerance ||
                std::abs(a.normals[i][k] - b.normals[i][k]) > 1e-6 ||
                (k < 2 && std::abs(a.uvs[i][k] - b.uvs[i][k]) > 1e-6))
                ++different;
    EXPECT_EQ(different, 0) << what;
}

class TowerExport : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Key E writes beside where the run started: a folder of this test's own.
        startFolder() = fs::path(testing::TempDir()) / ("gorvane-export-" + std::to_string(::getpid()));
        fs::remove_all(startFolder());
        fs::create_directories(startFolder());
        fs::current_path(startFolder());
        startProgram();
    }
    static void TearDownTestSuite() { fs::remove_all(startFolder()); }
    void TearDown() override { CalculationMode.store(CpuMeshGpuDensity); }

    static fs::path& startFolder() {
        static fs::path folder;
        return folder;
    }

    // The blocks of exportRanges from one noise in `mode`, and a frame at the start camera,
    // where every block is in view: the drawn counts are the Tower's totals.
    static void buildBlocks(std::int32_t mode) {
        emptyEveryBlock();
        msvcrt::srand(7);
        ASSERT_TRUE(SUCCEEDED(D3DXFillVolumeTexture(NoiseVolume, fillNoiseTexel, nullptr)));
        runWorkersOver(exportRanges, mode);
        engine_frame();
        const TowerCounts counts = towerCounts();
        ASSERT_EQ(vertexCount.load(), counts.totalVertices());
        ASSERT_EQ(polygonCount.load(), counts.totalTriangles());
        for (int block : lastBlocks)
            ASSERT_GT(counts.triangles[block], 0) << "block " << block;
    }

    static std::string output(const std::string& name) { return (startFolder() / name).string(); }
};

TEST_F(TowerExport, EveryFormatReadsBackWithTheDrawnCountsBoundsAndTurn) {
    std::map<FaceKey, bool> cpuTurns;
    for (std::int32_t mode : {CpuMeshGpuDensity, GpuOnly, GpuVerticesCpuWeld}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        buildBlocks(mode);
        const std::int64_t drawnVertices = vertexCount.load(), drawnFaces = polygonCount.load();
        const WorldMesh drawn = drawnMeshes();
        for (const char* name : {"tower.glb", "tower.ply", "tower.obj"}) {
            const ExportOutcome outcome = exportTower(output(name));
            EXPECT_TRUE(outcome.written) << outcome.message;
        }

        const WorldMesh glb = readGlb(output("tower.glb"));
        EXPECT_GT(glb.facesWithArea, 0);
        if (mode == CpuMeshGpuDensity) {
            // Smooth normals over the faces around each vertex: every face agrees.
            EXPECT_EQ(glb.facesAgainstNormals, 0) << "of " << glb.facesWithArea;
            cpuTurns = faceTurns(glb);
        } else {
            // The density gradient's normals point the wrong way at a few thin features, so
            // the turn is checked face by face against the same faces of mode 0.
            EXPECT_LT(glb.facesAgainstNormals, glb.facesWithArea / 100);
            int same = 0, opposite = 0;
            for (const auto& [face, turn] : faceTurns(glb)) {
                const auto cpu = cpuTurns.find(face);
                if (cpu == cpuTurns.end()) continue;
                (cpu->second == turn ? same : opposite) += 1;
            }
            EXPECT_EQ(opposite, 0);
            // Nearly all faces are found (a corner may round the other way in another mode).
            EXPECT_GT(same, static_cast<int>(drawnFaces * 95 / 100));
        }
        EXPECT_EQ(static_cast<std::int64_t>(glb.positions.size()), drawnVertices);
        EXPECT_EQ(static_cast<std::int64_t>(glb.indices.size()), 3 * drawnFaces);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(glb.low[a], drawn.low[a], 1e-3) << "axis " << a;
            EXPECT_NEAR(glb.high[a], drawn.high[a], 1e-3) << "axis " << a;
        }
        const WorldMesh ply = readPly(output("tower.ply"));
        EXPECT_EQ(static_cast<std::int64_t>(ply.positions.size()), drawnVertices);
        expectSameMesh(ply, glb, 1e-3, "ply against glb");
        // The shortest decimal text of a float reads back as the same float.
        expectSameMesh(readObj(output("tower.obj")), ply, 0.0, "obj against ply");
    }
}

TEST_F(TowerExport, DensityFilesHoldTheSlotsReadBackAndChangeNothingOfTheTower) {
    buildBlocks(CpuMeshGpuDensity);
    std::vector<std::vector<float>> slotFields;
    for (int slot = 0; slot < workerCount; ++slot)
        slotFields.emplace_back(DensityReadback[slot], DensityReadback[slot] + densityFloatsPerSlot);
    // The same blocks in a GPU mode: the export runs the density pass again whatever the mode.
    buildBlocks(GpuOnly);
    const TowerCounts before = towerCounts();
    const std::int32_t started = startedBlocks.load();
    const EngineNumber mapSum = BlockMapSum.load(), mapMax = BlockMapMax.load(),
                       lastMap = tBlockMap.load();
    std::array<ID3DXMesh*, towerBlockCount> meshes;
    std::copy(std::begin(BlockMeshes), std::end(BlockMeshes), meshes.begin());

    const fs::path folder = startFolder() / "density";
    const ExportOutcome outcome = exportTowerDensity(folder.string());
    ASSERT_TRUE(outcome.written) << outcome.message;

    EXPECT_EQ(towerCounts().triangles, before.triangles);
    EXPECT_EQ(towerCounts().vertices, before.vertices);
    EXPECT_EQ(startedBlocks.load(), started);
    EXPECT_EQ(BlockMapSum.load(), mapSum);
    EXPECT_EQ(BlockMapMax.load(), mapMax);
    EXPECT_EQ(tBlockMap.load(), lastMap);
    EXPECT_TRUE(std::equal(meshes.begin(), meshes.end(), std::begin(BlockMeshes)));
    for (int slot = 0; slot < workerCount; ++slot)
        EXPECT_EQ(std::memcmp(slotFields[slot].data(), DensityReadback[slot],
                              densityFloatsPerSlot * sizeof(float)), 0);

    const nlohmann::json index = nlohmann::json::parse(readAll(folder / "index.json"));
    int blocksWithSurface = 0;
    for (int block = 0; block < towerBlockCount; ++block)
        blocksWithSurface += before.triangles[block] > 0;
    ASSERT_EQ(index.at("blocks").size(), static_cast<std::size_t>(blocksWithSurface));
    EXPECT_EQ(index.at("cellGridPoints").at("first"), 16);
    EXPECT_EQ(index.at("cellGridPoints").at("last"), 48);
    for (const nlohmann::json& entry : index.at("blocks")) {
        const fs::path file = folder / entry.at("file").get<std::string>();
        EXPECT_EQ(fs::file_size(file), densityFloatsPerSlot * sizeof(float)) << file;
        const int x = entry.at("block")[0], y = entry.at("block")[1], z = entry.at("block")[2];
        for (int slot = 0; slot < workerCount; ++slot) {
            if (blockIndex(x, y, z) != lastBlocks[slot]) continue;
            const std::string bytes = readAll(file);
            EXPECT_EQ(std::memcmp(bytes.data(), slotFields[slot].data(), bytes.size()), 0) << file;
        }
        // Grid point 32 on every axis is the block's centre, where the renderer's world matrix
        // puts block coordinate 0.
        const D3DXMATRIX world = blockWorldMatrix(x, y, z);
        const auto& origin = entry.at("gridOrigin");
        const auto& steps = entry.at("gridSteps");
        for (int a = 0; a < 3; ++a) {
            const double centre = origin[a].get<double>() + 32 * (steps[0][a].get<double>() +
                                                                  steps[1][a].get<double>() +
                                                                  steps[2][a].get<double>());
            EXPECT_NEAR(centre, a == 2 ? -world(3, 2) : world(3, a), 1e-3) << "axis " << a;
        }
    }
}

TEST_F(TowerExport, BadOutputsFailInOneLineAndLeaveNoFile) {
    buildBlocks(GpuOnly);
    const fs::path folder = startFolder() / "bad";
    fs::create_directories(folder);
    fs::create_symlink("/dev/full", folder / "full.glb");
    const std::string existing = (folder / "kept.ply").string();
    std::ofstream(existing) << "kept";

    struct Case {
        std::string path;
        files::ExistingFile existing;
        const char* problem;
    };
    const Case cases[] = {
        {(folder / "missing" / "tower.glb").string(), files::ExistingFile::replace,
         "No such file or directory"},
        {(folder / "full.glb").string(), files::ExistingFile::replace, "No space left on device"},
        {(folder / "tower.stl").string(), files::ExistingFile::replace, ".glb, .ply, .obj"},
        {existing, files::ExistingFile::keep, "File exists"},
    };
    for (const Case& c : cases) {
        const ExportOutcome outcome = exportTower(c.path, c.existing);
        EXPECT_FALSE(outcome.written) << c.path;
        EXPECT_NE(outcome.message.find(c.path), std::string::npos) << outcome.message;
        EXPECT_NE(outcome.message.find(c.problem), std::string::npos) << outcome.message;
        EXPECT_EQ(outcome.message.find('\n'), std::string::npos) << outcome.message;
    }
    EXPECT_EQ(readAll(existing), "kept");
    const ExportOutcome density = exportTowerDensity((folder / "missing" / "density").string());
    EXPECT_FALSE(density.written);
    EXPECT_NE(density.message.find("No such file or directory"), std::string::npos)
        << density.message;
    // Nothing but what the test made: no partial file stayed behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

    emptyEveryBlock();
    for (const ExportOutcome& outcome :
         {exportTower((folder / "none.glb").string()), exportTowerDensity(folder.string())}) {
        EXPECT_FALSE(outcome.written);
        EXPECT_NE(outcome.message.find("no Tower"), std::string::npos) << outcome.message;
    }
    EXPECT_FALSE(fs::exists(folder / "none.glb"));
}

TEST_F(TowerExport, KeyEWritesTheNextFreeNumberAndSaysWhereOnScreen) {
    buildBlocks(CpuMeshGpuDensity);
    const fs::path out = startFolder() / "out";
    fs::remove_all(out);
    headless_program::pressKey('E');
    headless_program::pressKey('E');
    EXPECT_TRUE(fs::is_regular_file(out / "tower-1.glb"));
    EXPECT_TRUE(fs::is_regular_file(out / "tower-2.glb"));
    std::ofstream(out / "tower-3.glb") << "someone else's";
    headless_program::pressKey('E');
    EXPECT_EQ(readAll(out / "tower-3.glb"), "someone else's");
    EXPECT_EQ(readGlb((out / "tower-4.glb").string()).positions.size(),
              static_cast<std::size_t>(towerCounts().totalVertices()));
    EXPECT_NE(exportNotice().find((out / "tower-4.glb").string()), std::string::npos)
        << exportNotice();

    // A failure is a line on screen, and the run goes on.
    emptyEveryBlock();
    headless_program::pressKey('E');
    EXPECT_NE(exportNotice().find("no Tower"), std::string::npos) << exportNotice();
    EXPECT_FALSE(fs::exists(out / "tower-5.glb"));
    EXPECT_EQ(engine_frame(), 1);
}

} // namespace
