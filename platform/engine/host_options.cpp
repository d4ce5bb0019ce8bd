#include "platform/engine/host_options.h"

#include "platform/engine/engine_host.h"
#include "platform/engine/engine_state.h"
#include "platform/files/bounded_file.h"
#include "platform/trace/trace.h"

#include <algorithm>
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

// ---------------------------------------------------------------------------------------------
// The options: one row each, from which both parsing and --help come
// ---------------------------------------------------------------------------------------------

// Reads an option's value into the options. Returns "" when the value is good, else the whole
// problem (usually badValue's line).
using OptionReader = std::string (*)(std::string_view option, const std::string& value,
                                     HostOptions& options);

struct HostOption {
    const char* name;
    const char* value; // the value's name in --help; nullptr for an option without a value
    const char* help;  // may run over several lines ('\n')
    OptionReader read; // nullptr for --help and flags, which set their field through `flag`
    bool HostOptions::*flag = nullptr;
};

std::string badValue(std::string_view option, const std::string& value, const char* goodValue) {
    std::string problem = std::string(option) + ": bad value \"" + value + "\"";
    if (goodValue != nullptr) problem += std::string(" (") + goodValue + ")";
    return problem;
}

std::string readSize(std::string_view option, const std::string& value, HostOptions& options) {
    const std::size_t cross = value.find('x');
    const std::optional<int> width =
        wholeNumber(std::string_view(value).substr(0, cross), 64, 8192);
    const std::optional<int> height =
        cross == std::string::npos
            ? std::nullopt
            : wholeNumber(std::string_view(value).substr(cross + 1), 64, 8192);
    if (!width || !height) return badValue(option, value, "WIDTHxHEIGHT, 64 to 8192 each");
    options.width = *width;
    options.height = *height;
    return "";
}

std::string readKeys(std::string_view, const std::string& value, HostOptions& options) {
    std::string problem;
    const std::optional<std::string> script = keyScriptText(value, problem);
    if (!script) return problem;
    KeyScriptParse parsed = parseKeyScript(*script);
    if (!parsed.error.empty()) return parsed.error;
    options.keyScript = std::move(parsed.holds);
    options.keyScriptGiven = true;
    return "";
}

template <int HostOptions::*field>
std::string readFrame(std::string_view option, const std::string& value, HostOptions& options) {
    const std::optional<int> frame = wholeNumber(value, 1, 1 << 30);
    if (!frame) return badValue(option, value, "a frame number from 1");
    options.*field = *frame;
    return "";
}

template <std::string HostOptions::*field>
std::string readPath(std::string_view option, const std::string& value, HostOptions& options) {
    if (value.empty()) return badValue(option, value, nullptr);
    options.*field = value;
    return "";
}

std::string readTimeStep(std::string_view option, const std::string& value, HostOptions& options) {
    const std::optional<double> step = realNumber(value);
    if (!step || (*step != 0 && (*step < shortestTimeStep || *step > longestTimeStep)))
        return badValue(option, value, "0, or seconds from 0.0001 to 10");
    options.timeStep = *step;
    return "";
}

std::string readShaderCapability(std::string_view option, const std::string& value,
                                 HostOptions& options) {
    const std::optional<double> capability = realNumber(value);
    if (!capability) return badValue(option, value, "a number such as 3030.0");
    options.shaderCapability = toEngineNumber(*capability);
    return "";
}

// The formats the program's export writes, named by the file's extension.
std::string readExportPath(std::string_view option, const std::string& value,
                           HostOptions& options) {
    const std::string extension = fs::path(value).extension().string();
    if (extension != ".glb" && extension != ".ply" && extension != ".obj")
        return badValue(option, value, "a file ending in .glb, .ply or .obj");
    options.exportPath = value;
    return "";
}

const HostOption hostOptionTable[] = {
    {"--headless", nullptr,
     "draw offscreen through EGL (default: a window when DISPLAY or\n"
     "WAYLAND_DISPLAY is set and GLFW starts)",
     nullptr, &HostOptions::headless},
    {"--size", "WxH", "back buffer (and window) size, 64..8192 each (default 1280x720)", readSize},
    {"--data", "DIR",
     "data directory, which becomes the working directory (default: the\n"
     "first \"data\" folder beside the program or above it, or in the\n"
     "working directory)",
     [](std::string_view, const std::string& value, HostOptions& options) {
         options.dataDirectory = value;
         return std::string();
     }},
    {"--keys", "SCRIPT",
     "scripted keys, e.g. \"2:C,10-40:W\" (N:K presses K in frame N,\n"
     "A-B:K holds it from frame A to B); @FILE reads the script from\n"
     "FILE. Keys: A-Z, Up, Left, Right, PageUp, PageDown, Shift,\n"
     "Space, Ctrl, Escape. A press made before the program stores its\n"
     "first key hook waits for it. In a scripted run no message box\n"
     "waits for an answer: each shows for a few frames",
     readKeys},
    {"--frames", "N",
     "end after frame N; the script and the limit count the frames drawn\n"
     "outside key hooks (not a tower's progress frames)",
     readFrame<&HostOptions::frameLimit>},
    {"--screenshot", "FILE.png", "write the last frame as a PNG",
     readPath<&HostOptions::screenshotPath>},
    {"--stats", "FILE.json", "write the run's statistics at exit",
     readPath<&HostOptions::statsPath>},
    {"--export", "FILE",
     "write the Tower after the last frame: FILE.glb (glTF binary),\n"
     "FILE.ply (binary) or FILE.obj",
     readExportPath},
    {"--export-density", "DIR", "write each block's density field and index.json into DIR",
     readPath<&HostOptions::exportDensityDirectory>},
    {"--device-loss-at", "N",
     "simulate a device loss in frame N (the first from N on outside a\n"
     "key hook): device-lost hook, reset, device-reset hook",
     readFrame<&HostOptions::deviceLossFrame>},
    {"--device-loss-in-tower", "K",
     "simulate a device loss in the K-th progress frame of the next tower\n"
     "(the (K + 1)-th frame drawn inside one key hook), once",
     readFrame<&HostOptions::deviceLossTowerFrame>},
    {"--trace", "FILE.json",
     "write a trace of the run's towers (Chrome trace-event format, for\n"
     "Perfetto or chrome://tracing) at exit; without it nothing is recorded",
     readPath<&HostOptions::tracePath>},
    {"--shader-capability", "X",
     "report shader capability X instead of the device's (3030.0 on\n"
     "OpenGL 4.5)",
     readShaderCapability},
    {"--time-step", "SECONDS",
     "advance the engine's time by SECONDS each frame, so a scripted run\n"
     "ends the same on any machine; 0: real time (default 1/60 headless,\n"
     "real time in a window). The running time and timer() stay real time",
     readTimeStep},
    {"--help", nullptr, "print this text", nullptr},
};

const HostOption* findHostOption(std::string_view name) {
    for (const HostOption& option : hostOptionTable)
        if (name == option.name) return &option;
    return nullptr;
}

// "usage:" and a line per option, its help in a column of its own.
std::string usageText() {
    constexpr std::size_t helpColumn = 25;
    std::string text = "usage: gorvane [options]\n";
    for (const HostOption& option : hostOptionTable) {
        std::string line = std::string("  ") + option.name;
        if (option.value != nullptr) line += std::string(" ") + option.value;
        line.resize(std::max(line.size() + 2, helpColumn), ' ');
        for (const char* help = option.help; *help != '\0'; ++help) {
            line += *help;
            if (*help == '\n') line.append(helpColumn, ' ');
        }
        text += line + "\n";
    }
    return text;
}

void printProblem(const std::string& problem) {
    std::fprintf(stderr, "gorvane: %s\n%s", problem.c_str(), usageText().c_str());
}

} // namespace

HostOptionsParse parseHostOptions(int argc, const char* const* argv) {
    HostOptionsParse result;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        const HostOption* option = findHostOption(name);
        if (option == nullptr) {
            result.error = "unknown option \"" + std::string(name) + "\"";
            return result;
        }
        if (option->flag != nullptr) {
            result.options.*option->flag = true;
            continue;
        }
        if (option->read == nullptr) {
            result.helpRequested = true;
            return result;
        }
        if (i + 1 >= argc) {
            result.error = std::string(name) + " needs a value";
            return result;
        }
        result.error = option->read(name, argv[++i], result.options);
        if (!result.error.empty()) return result;
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
        std::fputs(usageText().c_str(), stdout);
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
    if (!options.tracePath.empty()) options.tracePath = absolutePath(options.tracePath);
    options.dataDirectory = absolutePath(dataDirectory.string());

    fs::current_path(dataDirectory, error);
    if (error) {
        printProblem("cannot enter the data directory \"" + dataDirectory.string() +
                     "\": " + error.message());
        return 2;
    }
    if (!options.tracePath.empty()) trace::startRecording();
    currentOptions = std::move(options);
    runRecord().towerDeviceLossArmed = currentOptions.deviceLossTowerFrame > 0;
    return 0;
}

const char* engineHostTracePath() {
    return engine::hostOptions().tracePath.empty() ? nullptr
                                                   : engine::hostOptions().tracePath.c_str();
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
