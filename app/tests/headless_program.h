// Starts the program once per test executable on a headless engine, over a private copy of the
// data folder (which becomes the working directory), so that a test may rewrite the files the
// program loads, such as "renderMap.fx".
#pragma once

#include "app/program_state.h"
#include "app/startup.h"
#include "platform/engine/engine_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
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

// Configures the engine host for a width x height back buffer and runs start-up.
inline StartUpOutcome start(const char* width_x_height) {
    const std::string data = dataCopy().string();
    char* argv[] = {const_cast<char*>("gorvane_test"), const_cast<char*>("--headless"),
                    const_cast<char*>("--data"),       const_cast<char*>(data.c_str()),
                    const_cast<char*>("--size"),       const_cast<char*>(width_x_height)};
    if (engineHostConfigure(6, argv) != 0) return StartUpOutcome::engineEnded;
    return startUp();
}

inline void removeDataCopy() {
    std::filesystem::remove_all(dataCopy());
}

// Calls the hook the program stored at `position` of the slot table.
inline void runHook(int position) {
    const EngineHook hook = *static_cast<EngineHook*>(engineSlot(engineSlotTable, position));
    ASSERT_NE(hook, nullptr) << "no hook at slot position " << position;
    hook();
}

inline void pressKey(char letter) {
    runHook(EnginePos::letterKeyHook + 4 * engineLetter(letter));
}

} // namespace headless_program
