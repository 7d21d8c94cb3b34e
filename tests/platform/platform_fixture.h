// Private registry store, fake port map and fake sysfs root for one test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/registry.h"
#include "platform/posix/version.h"

class PlatformFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/platform-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        store_ = root_ + "/config/registry";
        setenv("SPECTRO_REGISTRY", store_.c_str(), 1);
        setenv("SPECTRO_SYSFS_ROOT", (root_ + "/sys").c_str(), 1);
        std::filesystem::create_directories(root_ + "/sys/class/tty");
        SetPorts({});
    }
    void TearDown() override
    {
        winapi_posix::SetPortMapForTesting(nullptr);
        winapi_posix::ResetPlatformIdForTesting();
        unsetenv("SPECTRO_REGISTRY");
        unsetenv("SPECTRO_SYSFS_ROOT");
        std::filesystem::remove_all(root_);
    }

    void SetPorts(std::vector<winapi_posix::PortMapEntry> ports)
    {
        winapi_posix::SetPortMapForTesting([ports] { return ports; });
    }

    static winapi_posix::PortMapEntry Port(std::u16string com, std::u16string kernel, std::string sysfs = "")
    {
        winapi_posix::PortMapEntry e;
        e.ComName = std::move(com);
        e.KernelName = std::move(kernel);
        e.SysfsPath = std::move(sysfs);
        e.Virtual = e.SysfsPath.empty();
        e.DevicePath = e.Virtual ? "/dev/pts/3" : "/dev/x";
        return e;
    }

    std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteFile(const std::string& path, const std::string& text)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    std::string root_, store_;
};
