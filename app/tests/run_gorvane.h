// Running the gorvane executable from a test, as a user runs it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

struct GorvaneRun {
    int status;         // exit status, -1 when it did not exit normally
    std::string errors; // standard error
};

inline std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// A file name of this test in the test's temporary directory.
inline std::string testOutputPath(const std::string& name) {
    return testing::TempDir() + "gorvane_" + name;
}

// Runs `launcher gorvane --data DIR arguments`, keeping standard error in the file `name`.stderr.
inline GorvaneRun runGorvane(const std::string& launcher, const std::string& arguments,
                             const std::string& name,
                             const std::string& dataDirectory = GORVANE_DATA_DIR) {
    const std::string errorsPath = testOutputPath(name + ".stderr");
    const std::string command = launcher + " '" GORVANE_EXECUTABLE "' --data '" + dataDirectory +
                                "' " + arguments + " 2> '" + errorsPath + "'";
    const int raw = std::system(command.c_str());
    return GorvaneRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readWholeFile(errorsPath)};
}
