// The Tower's meshes as .glb, .ply or .obj.
//
//   The blocks in glTF's frame ........ ExportBlock, blockPlacement, forEachExportBlock
//   glTF binary ........................ writeGlb
//   PLY and OBJ ......................... writePly, writeObj
//   The export .......................... exportTower
#include "view/tower_export.h"

#include "view/tower_export_blocks.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <vector>

namespace {

static_assert(std::endian::native == std::endian::little,
              "the binary formats are written straight from memory");

// ---------------------------------------------------------------------------------------------
// glTF binary: one buffer; per block an interleaved vertex view (the 32-byte MeshVertex), an
// index view, four accessors, a mesh and a node that places it.
// ---------------------------------------------------------------------------------------------
constexpr int arrayBufferTarget = 34962;
constexpr int elementArrayBufferTarget = 34963;

template <class T> void appendBytes(std::vector<unsigned char>& data, const T* items,
                                    std::size_t count) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(items);
    data.insert(data.end(), bytes, bytes + count * sizeof(T));
}

int addView(tinygltf::Model& model, std::size_t offset, std::size_t length, int stride,
            int target) {
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = offset;
    view.byteLength = length;
    view.byteStride = static_cast<std::size_t>(stride);
    view.target = target;
    model.bufferViews.push_back(view);
    return static_cast<int>(model.bufferViews.size()) - 1;
}

int addAccessor(tinygltf::Model& model, int view, std::size_t offset, int componentType,
                int type, std::size_t count) {
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.byteOffset = offset;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size()) - 1;
}

void addBlock(tinygltf::Model& model, const ExportBlock& block) {
    std::vector<unsigned char>& data = model.buffers[0].data;
    const std::size_t vertexOffset = data.size();
    appendBytes(data, block.vertices.data(), block.vertices.size());
    const int vertexView = addView(model, vertexOffset, data.size() - vertexOffset,
                                   sizeof(MeshVertex), arrayBufferTarget);
    const std::size_t indexOffset = data.size();
    appendBytes(data, block.indices.data(), block.indices.size());
    const int indexView =
        addView(model, indexOffset, data.size() - indexOffset, 0, elementArrayBufferTarget);
    data.resize((data.size() + 3) / 4 * 4); // the next vertex view starts 4-aligned

    const std::size_t vertices = block.vertices.size();
    const int position = addAccessor(model, vertexView, offsetof(MeshVertex, position),
                                     TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, vertices);
    std::array<double, 3> low, high;
    low.fill(std::numeric_limits<double>::max());
    high.fill(std::numeric_limits<double>::lowest());
    for (const MeshVertex& v : block.vertices)
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], static_cast<double>(v.position[a]));
            high[a] = std::max(high[a], static_cast<double>(v.position[a]));
        }
    model.accessors[position].minValues.assign(low.begin(), low.end());
    model.accessors[position].maxValues.assign(high.begin(), high.end());

    tinygltf::Primitive primitive;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.attributes["POSITION"] = position;
    primitive.attributes["NORMAL"] =
        addAccessor(model, vertexView, offsetof(MeshVertex, normal),
                    TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, vertices);
    primitive.attributes["TEXCOORD_0"] =
        addAccessor(model, vertexView, offsetof(MeshVertex, u), TINYGLTF_COMPONENT_TYPE_FLOAT,
                    TINYGLTF_TYPE_VEC2, vertices);
    primitive.indices = addAccessor(model, indexView, 0, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                                    TINYGLTF_TYPE_SCALAR, block.indices.size());

    const std::string name = "block " + std::to_string(block.x) + " " + std::to_string(block.y) +
                             " " + std::to_string(block.z);
    tinygltf::Mesh mesh;
    mesh.name = name;
    mesh.primitives.push_back(primitive);
    model.meshes.push_back(mesh);

    const BlockPlacement placement = blockPlacement(block.x, block.y, block.z);
    tinygltf::Node node;
    node.name = name;
    node.mesh = static_cast<int>(model.meshes.size()) - 1;
    node.translation = {placement.translation.x, placement.translation.y,
                        placement.translation.z};
    node.scale = {placement.scale, placement.scale, placement.scale};
    model.nodes.push_back(node);
    model.scenes[0].nodes.push_back(static_cast<int>(model.nodes.size()) - 1);
}

std::string writeGlb(files::WholeFileWriter& out) {
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "Gorvane";
    model.buffers.emplace_back();
    model.scenes.emplace_back();
    model.defaultScene = 0;
    const std::string problem =
        forEachExportBlock([&model](const ExportBlock& block) { addBlock(model, block); });
    if (!problem.empty()) return problem;

    std::ostringstream stream;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&model, stream, false, true) || !stream)
        return "the glTF writer failed";
    out.write(stream.view());
    return {};
}

// ---------------------------------------------------------------------------------------------
// PLY and OBJ: world positions in glTF's frame, one vertex list and one face list.
// ---------------------------------------------------------------------------------------------

ExportPoint worldPosition(const MeshVertex& v, const BlockPlacement& placement) {
    return {v.position[0] * placement.scale + placement.translation.x,
            v.position[1] * placement.scale + placement.translation.y,
            v.position[2] * placement.scale + placement.translation.z};
}

struct PlyVertex {
    float x, y, z, nx, ny, nz, s, t;
};
#pragma pack(push, 1)
struct PlyFace {
    std::uint8_t corners;
    std::uint32_t index[3];
};
#pragma pack(pop)
static_assert(sizeof(PlyVertex) == 32 && sizeof(PlyFace) == 13);

std::string writePly(files::WholeFileWriter& out) {
    const ExportTotals totals = exportTotals();
    out.write("ply\nformat binary_little_endian 1.0\ncomment Gorvane Tower\n"
              "element vertex " + std::to_string(totals.vertices) +
              "\nproperty float x\nproperty float y\nproperty float z\n"
              "property float nx\nproperty float ny\nproperty float nz\n"
              "property float s\nproperty float t\n"
              "element face " + std::to_string(totals.faces) +
              "\nproperty list uchar uint vertex_indices\nend_header\n");
    std::vector<PlyVertex> vertices;
    std::string problem = forEachExportBlock([&](const ExportBlock& block) {
        const BlockPlacement placement = blockPlacement(block.x, block.y, block.z);
        vertices.clear();
        for (const MeshVertex& v : block.vertices) {
            const ExportPoint p = worldPosition(v, placement);
            vertices.push_back({p.x, p.y, p.z, v.normal[0], v.normal[1], v.normal[2], v.u, v.v});
        }
        out.write(vertices.data(), vertices.size() * sizeof(PlyVertex));
    });
    if (!problem.empty()) return problem;

    std::vector<PlyFace> faces;
    std::uint32_t firstVertex = 0;
    return forEachExportBlock([&](const ExportBlock& block) {
        faces.clear();
        for (std::size_t i = 0; i + 2 < block.indices.size(); i += 3)
            faces.push_back({3,
                             {firstVertex + block.indices[i], firstVertex + block.indices[i + 1],
                              firstVertex + block.indices[i + 2]}});
        out.write(faces.data(), faces.size() * sizeof(PlyFace));
        firstVertex += static_cast<std::uint32_t>(block.vertices.size());
    });
}

// Appends the shortest text that reads back as the same float.
void appendNumber(std::string& text, float value) {
    char digits[32];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    text.push_back(' ');
    text.append(digits, written.ptr);
}

void appendLine(std::string& text, const char* keyword, std::initializer_list<float> values) {
    text += keyword;
    for (float value : values)
        appendNumber(text, value);
    text.push_back('\n');
}

// OBJ counts vertices from 1 across the whole file and puts texture row 0 at the bottom (v up),
// where glTF and Direct3D have it at the top, so v becomes 1 - v.
std::string writeObj(files::WholeFileWriter& out) {
    const ExportTotals totals = exportTotals();
    out.write("# Gorvane Tower: " + std::to_string(totals.vertices) + " vertices, " +
              std::to_string(totals.faces) + " faces\n");
    std::string text;
    std::uint64_t firstVertex = 1;
    return forEachExportBlock([&](const ExportBlock& block) {
        const BlockPlacement placement = blockPlacement(block.x, block.y, block.z);
        text.clear();
        for (const MeshVertex& v : block.vertices) {
            const ExportPoint p = worldPosition(v, placement);
            appendLine(text, "v", {p.x, p.y, p.z});
            appendLine(text, "vn", {v.normal[0], v.normal[1], v.normal[2]});
            appendLine(text, "vt", {v.u, 1.0f - v.v});
        }
        for (std::size_t i = 0; i + 2 < block.indices.size(); i += 3) {
            text += 'f';
            for (int corner = 0; corner < 3; ++corner) {
                const std::string n = std::to_string(firstVertex + block.indices[i + corner]);
                text += ' ' + n + '/' + n + '/' + n;
            }
            text.push_back('\n');
        }
        out.write(text);
        firstVertex += block.vertices.size();
    });
}

} // namespace

std::optional<TowerFormat> towerFormatOf(const std::string& path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    if (extension == ".glb") return TowerFormat::glb;
    if (extension == ".ply") return TowerFormat::ply;
    if (extension == ".obj") return TowerFormat::obj;
    return std::nullopt;
}

ExportOutcome exportTower(const std::string& path, files::ExistingFile existing) {
    const std::string failed = "cannot export the Tower to " + path + ": ";
    const std::optional<TowerFormat> format = towerFormatOf(path);
    if (!format) return {false, failed + "the name ends in none of .glb, .ply, .obj"};
    const ExportTotals totals = exportTotals();
    if (totals.blocks == 0) return {false, failed + "there is no Tower yet (press C)"};

    files::WholeFileWriter out(path, existing);
    if (!out.problem().empty()) return {false, failed + out.problem()};
    std::string problem;
    switch (*format) {
    case TowerFormat::glb:
        problem = writeGlb(out);
        break;
    case TowerFormat::ply:
        problem = writePly(out);
        break;
    case TowerFormat::obj:
        problem = writeObj(out);
        break;
    }
    // A file whose meshes could not all be read is not committed: it stays unnamed and goes.
    if (problem.empty()) problem = out.commit();
    if (!problem.empty()) return {false, failed + problem};
    return {true, "wrote the Tower (" + std::to_string(totals.blocks) + " blocks, " +
                      std::to_string(totals.vertices) + " vertices, " +
                      std::to_string(totals.faces) + " triangles) to " + path};
}
