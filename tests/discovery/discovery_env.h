// A private registry store, port map and sysfs tree for the discovery tests.
// Must run before the first registry or port-map call of the test process.
#pragma once

#include <string>

// Sets SPECTRO_REGISTRY, SPECTRO_SYSFS_ROOT, SPECTRO_DEV_ROOT and
// SPECTRO_PORTMAP_DIR to folders of a fresh temporary directory (once per
// process) and clears SPECTRO_PORTS; returns that directory.
const std::string& DiscoveryTestEnvironment();
// The fake sysfs root (empty until a test adds devices).
std::string FakeSysfsRoot();
