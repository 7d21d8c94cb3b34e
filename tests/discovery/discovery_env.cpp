#include "tests/discovery/discovery_env.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

std::string MakeEnvironment()
{
    char Template[] = "/tmp/discovery-test-XXXXXX";
    const char* Dir = mkdtemp(Template);
    if (!Dir) throw std::runtime_error("mkdtemp failed");
    const std::string Root = Dir;
    for (const char* Sub : {"sys", "dev", "ports.d", "config"}) std::filesystem::create_directories(Root + "/" + Sub);
    setenv("SPECTRO_REGISTRY", (Root + "/registry.dat").c_str(), 1);
    setenv("SPECTRO_SYSFS_ROOT", (Root + "/sys").c_str(), 1);
    setenv("SPECTRO_DEV_ROOT", (Root + "/dev").c_str(), 1);
    setenv("SPECTRO_PORTMAP_DIR", (Root + "/ports.d").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Root + "/config").c_str(), 1);
    unsetenv("SPECTRO_PORTS");
    static const std::string Removed = Root;
    std::atexit([] {
        std::error_code Ignored;
        std::filesystem::remove_all(Removed, Ignored);
    });
    return Root;
}

// Before main: the platform layer may read the variables on first use.
[[maybe_unused]] const std::string& Environment = DiscoveryTestEnvironment();

}  // namespace

const std::string& DiscoveryTestEnvironment()
{
    static const std::string Root = MakeEnvironment();
    return Root;
}

std::string FakeSysfsRoot() { return DiscoveryTestEnvironment() + "/sys"; }
