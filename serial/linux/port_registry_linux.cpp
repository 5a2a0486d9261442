// The per-user directory of registered virtual ports.
#include "port_registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace zorvik::serial {

namespace {

constexpr const char* kRegistryName = "zorvik-ports";

std::mutex& registry_mutex() {
    static std::mutex m;
    return m;
}

std::string& registry_override() {
    static std::string dir;
    return dir;
}

bool owned_by_user(const struct stat& info) {
    return info.st_uid == ::geteuid();
}

std::string default_registry_dir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    // A runtime directory inherited from another user (su, sudo) is not ours.
    if (runtime && runtime[0] == '/' && registry_dir_trusted(runtime))
        return std::string(runtime) + "/" + kRegistryName;
    return std::string("/tmp/") + kRegistryName + "-" + std::to_string(::geteuid());
}

}  // namespace

std::string registry_dir() {
    {
        std::lock_guard lock(registry_mutex());
        const std::string& dir = registry_override();
        if (!dir.empty()) return dir;
    }
    return default_registry_dir();
}

void set_registry_dir_for_testing(const std::string& dir) {
    std::lock_guard lock(registry_mutex());
    registry_override() = dir;
}

bool registry_dir_trusted(const std::string& dir) {
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    return owned_by_user(info) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool prepare_registry_dir(const std::string& dir, std::string& error) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + dir + ": " + std::strerror(errno);
        return false;
    }
    if (!registry_dir_trusted(dir)) {
        error = dir + " is not a directory of this user's that only this user may write to";
        return false;
    }
    return true;
}

bool valid_port_name(const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f && c != '/';
    });
}

bool registered_port_live(const std::string& dir, const std::string& name) {
    const std::string link = dir + "/" + name;
    struct stat link_info {};
    if (::lstat(link.c_str(), &link_info) != 0 || !S_ISLNK(link_info.st_mode)) return false;
    if (!owned_by_user(link_info)) return false;
    struct stat target {};
    return ::stat(link.c_str(), &target) == 0;
}

}  // namespace zorvik::serial
