#include "platform/engine/host_options.h"

#include "platform/engine/engine_host.h"
#include "platform/engine/engine_state.h"
#include "platform/files/bounded_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace engine {

namespace {

namespace fs = std::filesystem;

HostOptions currentOptions;

// A fixed time step, seconds: at least one stored unit of a tick, at most a long stall.
constexpr double shortestTimeStep = 0.0001;
constexpr double longestTimeStep = 10;

// A script of a whole long flight is a few kilobytes.
constexpr std::size_t largestKeyScriptFile = std::size_t{1} << 20;

constexpr const char* usageText =
    "usage: gorvane [options]\n"
    "  --headless             draw offscreen (default: a window when a display exists)\n"
    "  --size WxH             back buffer size, 64..8192 each (default 1280x720)\n"
    "  --data DIR             data directory (default: the data folder beside the program\n"
    "                         or in the working directory)\n"
    "  --keys SCRIPT          scripted keys, e.g. \"2:C,10-40:W\" (N:K presses K in frame N,\n"
    "                         A-B:K holds it from frame A to B); @FILE reads the script from\n"
    "                         FILE. Keys: A-Z, Up, Left, Right, PageUp, PageDown, Shift,\n"
    "                         Space, Ctrl, Escape\n"
    "  --frames N             end after frame N\n"
    "  --screenshot FILE.png  write the last frame as a PNG\n"
    "  --stats FILE.json      write the run's statistics at exit\n"
    "  --export FILE          write the Tower after the last frame: FILE.glb (glTF binary),\n"
    "                         FILE.ply (binary) or FILE.obj\n"
    "  --export-density DIR   write each block's density field and index.json into DIR\n"
    "  --device-loss-at N     simulate a device loss in frame N\n"
    "  --shader-capability X  report shader capability X instead of the device's\n"
    "  --time-step SECONDS    advance the engine's time by SECONDS each frame, so a\n"
    "                         scripted run ends the same on any machine; 0: real time\n"
    "                         (default 1/60 headless, real time in a window)\n"
    "  --help                 print this text\n";

std::optional<int> wholeNumber(std::string_view text, int smallest, int largest) {
    int value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size() ||
        value < smallest || value > largest)
        return std::nullopt;
    return value;
}

std::optional<double> realNumber(std::string_view text) {
    double value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string absolutePath(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.string();
}

// Where the key script of "--keys" comes from: the text itself, or the file after '@'.
std::optional<std::string> keyScriptText(const std::string& argument, std::string& error) {
    if (argument.empty() || argument[0] != '@') return argument;
    const std::string fileName = argument.substr(1);
    const files::FileRead file = files::readBoundedFile(fileName, largestKeyScriptFile);
    if (!file.ok()) {
        error = "cannot read the key script \"" + fileName + "\": " + file.problem;
        return std::nullopt;
    }
    return std::string(file.bytes.begin(), file.bytes.end());
}

// A folder named "data" holding the level, beside the executable or above it, else in the
// working directory.
std::optional<fs::path> findDataDirectory() {
    std::error_code error;
    auto isDataDirectory = [&error](const fs::path& folder) {
        return fs::is_regular_file(folder / "data" / "level.wmb", error);
    };
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        for (fs::path folder = executable.parent_path(); !folder.empty();
             folder = folder.parent_path()) {
            if (isDataDirectory(folder)) return folder / "data";
            if (folder == folder.root_path()) break;
        }
    }
    const fs::path current = fs::current_path(error);
    if (!error && isDataDirectory(current)) return current / "data";
    return std::nullopt;
}

// The formats the program's export writes, named by the file's extension.
bool hasExportExtension(const std::string& path) {
    const std::string extension = fs::path(path).extension().string();
    return extension == ".glb" || extension == ".ply" || extension == ".obj";
}

void printProblem(const std::string& problem) {
    std::fprintf(stderr, "gorvane: %s\n%s", problem.c_str(), usageText);
}

} // namespace

HostOptionsParse parseHostOptions(int argc, const char* const* argv) {
    HostOptionsParse result;
    HostOptions& options = result.options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help") {
            result.helpRequested = true;
            return result;
        }
        if (option == "--headless") {
            options.headless = true;
            continue;
        }
        const bool takesValue = option == "--size" || option == "--data" || option == "--keys" ||
                                option == "--frames" || option == "--screenshot" ||
                                option == "--stats" || option == "--device-loss-at" ||
                                option == "--shader-capability" || option == "--time-step" ||
                                option == "--export" || option == "--export-density";
        if (!takesValue) {
            result.error = "unknown option \"" + std::string(option) + "\"";
            return result;
        }
        if (i + 1 >= argc) {
            result.error = std::string(option) + " needs a value";
            return result;
        }
        const std::string value = argv[++i];
        const std::string bad = std::string(option) + ": bad value \"" + value + "\"";
        if (option == "--size") {
            const std::size_t cross = value.find('x');
            const std::optional<int> width =
                wholeNumber(std::string_view(value).substr(0, cross), 64, 8192);
            const std::optional<int> height =
                cross == std::string::npos
                    ? std::nullopt
                    : wholeNumber(std::string_view(value).substr(cross + 1), 64, 8192);
            if (!width || !height) {
                result.error = bad + " (WIDTHxHEIGHT, 64 to 8192 each)";
                return result;
            }
            options.width = *width;
            options.height = *height;
        } else if (option == "--data") {
            options.dataDirectory = value;
        } else if (option == "--keys") {
            const std::optional<std::string> script = keyScriptText(value, result.error);
            if (!script) return result;
            KeyScriptParse parsed = parseKeyScript(*script);
            if (!parsed.error.empty()) {
                result.error = parsed.error;
                return result;
            }
            options.keyScript = std::move(parsed.holds);
        } else if (option == "--frames" || option == "--device-loss-at") {
            const std::optional<int> frame = wholeNumber(value, 1, 1 << 30);
            if (!frame) {
                result.error = bad + " (a frame number from 1)";
                return result;
            }
            (option == "--frames" ? options.frameLimit : options.deviceLossFrame) = *frame;
        } else if (option == "--screenshot" || option == "--stats") {
            if (value.empty()) {
                result.error = bad;
                return result;
            }
            (option == "--screenshot" ? options.screenshotPath : options.statsPath) = value;
        } else if (option == "--export") {
            if (!hasExportExtension(value)) {
                result.error = bad + " (a file ending in .glb, .ply or .obj)";
                return result;
            }
            options.exportPath = value;
        } else if (option == "--export-density") {
            if (value.empty()) {
                result.error = bad;
                return result;
            }
            options.exportDensityDirectory = value;
        } else if (option == "--time-step") {
            const std::optional<double> step = realNumber(value);
            if (!step || (*step != 0 && (*step < shortestTimeStep || *step > longestTimeStep))) {
                result.error = bad + " (0, or seconds from 0.0001 to 10)";
                return result;
            }
            options.timeStep = *step;
        } else {
            const std::optional<double> capability = realNumber(value);
            if (!capability) {
                result.error = bad + " (a number such as 3030.0)";
                return result;
            }
            options.shaderCapability = toEngineNumber(*capability);
        }
    }
    return result;
}

const HostOptions& hostOptions() {
    return currentOptions;
}

} // namespace engine

int engineHostConfigure(int argc, char** argv) {
    using namespace engine;
    HostOptionsParse parsed = parseHostOptions(argc, argv);
    if (parsed.helpRequested) {
        std::fputs(usageText, stdout);
        return 1;
    }
    if (!parsed.error.empty()) {
        printProblem(parsed.error);
        return 2;
    }
    HostOptions& options = parsed.options;

    std::error_code error;
    fs::path dataDirectory;
    if (!options.dataDirectory.empty()) {
        dataDirectory = options.dataDirectory;
        if (!fs::is_directory(dataDirectory, error)) {
            printProblem("the data directory \"" + options.dataDirectory + "\" does not exist");
            return 2;
        }
    } else if (const std::optional<fs::path> found = findDataDirectory()) {
        dataDirectory = *found;
    } else {
        printProblem("no data directory found beside the program or in the working directory; "
                     "name one with --data");
        return 2;
    }

    // Output paths name places relative to where the program was started.
    if (!options.screenshotPath.empty())
        options.screenshotPath = absolutePath(options.screenshotPath);
    if (!options.statsPath.empty()) options.statsPath = absolutePath(options.statsPath);
    if (!options.exportPath.empty()) options.exportPath = absolutePath(options.exportPath);
    if (!options.exportDensityDirectory.empty())
        options.exportDensityDirectory = absolutePath(options.exportDensityDirectory);
    options.startDirectory = fs::current_path(error).string();
    options.dataDirectory = absolutePath(dataDirectory.string());

    fs::current_path(dataDirectory, error);
    if (error) {
        printProblem("cannot enter the data directory \"" + dataDirectory.string() +
                     "\": " + error.message());
        return 2;
    }
    currentOptions = std::move(options);
    return 0;
}

const char* engineHostStatsPath() {
    return engine::hostOptions().statsPath.empty() ? nullptr
                                                   : engine::hostOptions().statsPath.c_str();
}

const char* engineHostScreenshotPath() {
    return engine::hostOptions().screenshotPath.empty()
               ? nullptr
               : engine::hostOptions().screenshotPath.c_str();
}

const char* engine_export_file() {
    return engine::hostOptions().exportPath.c_str();
}

const char* engine_export_density_folder() {
    return engine::hostOptions().exportDensityDirectory.c_str();
}

const char* engine_start_folder() {
    return engine::hostOptions().startDirectory.c_str();
}

bool engineHostScreenshotFailed() {
    return engine::runRecord().screenshotFailed;
}

std::int64_t engineHostFramesRun() {
    return engine::runRecord().framesDrawn;
}

double engineHostAverageFps() {
    const engine::RunRecord& run = engine::runRecord();
    return run.drawingSeconds > 0 ? run.framesDrawn / run.drawingSeconds : 0.0;
}

const char* engineHostRendererName() {
    return engine::runRecord().renderer.c_str();
}
