// Starts the program once per test executable on a headless engine, over a private copy of the
// data folder (which becomes the working directory), so that a test may rewrite the files the
// program loads, such as "renderMap.fx".
#pragma once

#include "engine/engine_handles.h"
#include "app/startup.h"
#include "platform/engine/engine_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>

namespace headless_program {

// The copy of the data folder; the program's working directory once started.
inline std::filesystem::path dataCopy() {
    static const std::filesystem::path path = [] {
        std::filesystem::path folder =
            std::filesystem::temp_directory_path() / ("gorvane-data-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::copy(GORVANE_DATA_DIR, folder, std::filesystem::copy_options::recursive);
        return folder;
    }();
    return path;
}

// Configures the engine host over `dataDirectory` for a width x height back buffer, with
// `options` added to the command line (e.g. "--keys", "9:C"), and runs start-up.
inline StartUpOutcome startOver(const std::string& dataDirectory, const char* width_x_height,
                                std::vector<std::string> options = {}) {
    std::vector<std::string> arguments = {"gorvane_test", "--headless", "--data", dataDirectory,
                                          "--size",       width_x_height};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    if (engineHostConfigure(static_cast<int>(argv.size()), argv.data()) != 0)
        return StartUpOutcome::engineEnded;
    return startUp();
}

// The same over the private copy of the data folder.
inline StartUpOutcome start(const char* width_x_height) {
    return startOver(dataCopy().string(), width_x_height);
}

inline void removeDataCopy() {
    std::filesystem::remove_all(dataCopy());
}

// Calls the hook the program stored at `position` of the slot table.
inline void runHook(int position) {
    const EngineHook hook = engineVariable<EngineHook>(engineSlotTable, position);
    ASSERT_NE(hook, nullptr) << "no hook at slot position " << position;
    hook();
}

inline void pressKey(char letter) {
    runHook(EnginePos::letterKeyHook + 4 * engineLetter(letter));
}

} // namespace headless_program
