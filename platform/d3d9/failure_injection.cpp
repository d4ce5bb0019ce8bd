#include "failure_injection.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

namespace d3d9gl {

namespace {

struct Failures {
    std::mutex mutex;
    std::map<std::string, int> callsLeft; // the call that fails is the one that brings it to 0
    std::atomic<bool> armed{false};       // lets the many unarmed calls skip the mutex
};

void setLocked(Failures& failures, const std::string& name, int nth) {
    if (nth > 0)
        failures.callsLeft[name] = nth;
    else
        failures.callsLeft.erase(name);
    failures.armed.store(!failures.callsLeft.empty());
}

// "NAME:N,NAME:N"; a malformed entry is reported once and ignored.
void readEnvironment(Failures& failures) {
    const char* setting = std::getenv("GORVANE_D3D_FAIL");
    if (setting == nullptr) return;
    std::istringstream entries(setting);
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        const std::size_t colon = entry.find(':');
        char* end = nullptr;
        const long nth = colon == std::string::npos
                             ? 0
                             : std::strtol(entry.c_str() + colon + 1, &end, 10);
        if (nth <= 0 || end == nullptr || *end != '\0') {
            std::fprintf(stderr, "d3d9: GORVANE_D3D_FAIL: ignoring \"%s\" (want NAME:N)\n",
                         entry.c_str());
            continue;
        }
        setLocked(failures, entry.substr(0, colon), static_cast<int>(nth));
    }
}

Failures& failures() {
    static Failures* const instance = [] {
        auto* created = new Failures; // lives until exit: worker threads may still call
        readEnvironment(*created);
        return created;
    }();
    return *instance;
}

} // namespace

void failNthCall(const char* name, int nth) {
    Failures& f = failures();
    const std::lock_guard<std::mutex> lock(f.mutex);
    setLocked(f, name, nth);
}

void clearCallFailures() {
    Failures& f = failures();
    const std::lock_guard<std::mutex> lock(f.mutex);
    f.callsLeft.clear();
    f.armed.store(false);
}

bool injectedFailure(const char* name) {
    Failures& f = failures();
    if (!f.armed.load()) return false;
    const std::lock_guard<std::mutex> lock(f.mutex);
    const auto found = f.callsLeft.find(name);
    if (found == f.callsLeft.end() || --found->second > 0) return false;
    setLocked(f, name, 0);
    return true;
}

} // namespace d3d9gl
