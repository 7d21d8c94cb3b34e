// A port map that a test controls (installed in the platform layer while it lives).
#pragma once

#include <string>
#include <vector>

#include "platform/posix/portmap.h"
#include "platform/posix/registry.h"

class TFakePortMap {
public:
    TFakePortMap()
    {
        winapi_posix::SetPortMapForTesting([this] { return fEntries; });
    }
    ~TFakePortMap() { winapi_posix::SetPortMapForTesting({}); }
    TFakePortMap(const TFakePortMap&) = delete;
    TFakePortMap& operator=(const TFakePortMap&) = delete;

    void Add(const std::u16string& ComName, const std::u16string& KernelName, const std::string& SysfsPath = "")
    {
        winapi_posix::PortMapEntry E;
        E.ComName = ComName;
        E.DevicePath = "/nonexistent/" + std::to_string(fEntries.size());
        E.KernelName = KernelName;
        E.Virtual = false;
        E.SysfsPath = SysfsPath;
        fEntries.push_back(E);
    }
    void Remove(const std::u16string& ComName)
    {
        std::erase_if(fEntries, [&](const auto& E) { return E.ComName == ComName; });
    }
    void Clear() { fEntries.clear(); }

private:
    std::vector<winapi_posix::PortMapEntry> fEntries;
};
