#include "app/export_keys.h"

#include "engine/engine_handles.h"
#include "view/tower_export.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// Ticks of 1/16 s that a notice stays on screen.
constexpr EngineNumber noticeTicks = toEngineNumber(5 * 16);

std::string notice;
EngineNumber noticeShownAt = 0;

EngineNumber runningTime() {
    return engineVariable<EngineNumber>(engineSlotTable, EnginePos::runningTime);
}

void report(const ExportOutcome& outcome) {
    std::FILE* stream = outcome.written ? stdout : stderr;
    std::fprintf(stream, "gorvane: %s\n", outcome.message.c_str());
    std::fflush(stream);
}

ExportOutcome exportToNextNumber() {
    const fs::path folder = fs::path(engine_start_folder()) / "out";
    std::error_code error;
    if (!fs::is_directory(folder, error) && !fs::create_directory(folder, error))
        return {false, "cannot export the Tower to " + folder.string() + ": " +
                           (error ? error.message() : "not a folder")};
    for (int n = 1;; ++n) {
        const fs::path path = folder / ("tower-" + std::to_string(n) + ".glb");
        if (fs::exists(fs::symlink_status(path, error))) continue;
        // Kept, not replaced: a file made under the name meanwhile fails the export.
        return exportTower(path.string(), files::ExistingFile::keep);
    }
}

} // namespace

void exportTowerKey() {
    const ExportOutcome outcome = exportToNextNumber();
    report(outcome);
    notice = outcome.message;
    noticeShownAt = runningTime();
}

bool runRequestedExports() {
    bool allWritten = true;
    if (const std::string path = engine_export_file(); !path.empty()) {
        const ExportOutcome outcome = exportTower(path);
        report(outcome);
        allWritten = allWritten && outcome.written;
    }
    if (const std::string folder = engine_export_density_folder(); !folder.empty()) {
        const ExportOutcome outcome = exportTowerDensity(folder);
        report(outcome);
        allWritten = allWritten && outcome.written;
    }
    return allWritten;
}

const std::string& exportNotice() {
    if (!notice.empty() && runningTime() - noticeShownAt > noticeTicks) notice.clear();
    return notice;
}

void drawExportNotice() {
    const std::string& line = exportNotice();
    if (line.empty()) return;
    const EngineVector colour{toEngineNumber(255), toEngineNumber(230), toEngineNumber(120)};
    draw_text(line.c_str(), toEngineNumber(10), toEngineNumber(600), &colour);
}
