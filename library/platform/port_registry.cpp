// The directory of registered virtual ports.
#include "port_registry.h"

#include <mutex>

namespace zorvik::serial {

namespace {

std::mutex& registry_mutex() {
    static std::mutex m;
    return m;
}

std::string& registry_override() {
    static std::string dir;
    return dir;
}

}  // namespace

std::string registry_dir() {
    std::lock_guard lock(registry_mutex());
    const std::string& dir = registry_override();
    return dir.empty() ? std::string(kDefaultRegistryDir) : dir;
}

void set_registry_dir_for_testing(const std::string& dir) {
    std::lock_guard lock(registry_mutex());
    registry_override() = dir;
}

}  // namespace zorvik::serial
