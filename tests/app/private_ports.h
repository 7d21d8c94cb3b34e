// A private port map, registry and an empty sysfs for a test process: only the
// virtual ports the tests create exist. Call before the first port lookup.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

// Returns the folder holding them; the caller removes it at the end.
inline std::filesystem::path UsePrivatePorts(const std::string& Prefix)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / (Prefix + std::to_string(::getpid()));
    fs::create_directories(root / "sys");
    fs::create_directories(root / "ports");
    setenv("SPECTRO_SYSFS_ROOT", (root / "sys").c_str(), 1);
    setenv("SPECTRO_PORTMAP_DIR", (root / "ports").c_str(), 1);
    setenv("SPECTRO_REGISTRY", (root / "registry").c_str(), 1);
    setenv("SPECTRO_PORTS", "", 1);
    return root;
}
