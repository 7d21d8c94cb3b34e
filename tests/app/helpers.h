// Small helpers of the program's tests: file contents and exception messages.
#pragma once

#include "toolkit/sysutils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// The bytes of a file ("" when it cannot be read).
inline std::string ReadAll(const std::filesystem::path& P)
{
    std::ifstream in(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Creates or replaces a file with these bytes.
inline void WriteAll(const std::filesystem::path& P, const std::string& Bytes)
{
    std::ofstream(P, std::ios::binary) << Bytes;
}

// Runs Call and returns the message of the E it raises; an empty text and a
// test failure when it raises nothing.
template <class E, class F>
UnicodeString MessageOf(F&& Call)
{
    try {
        Call();
    } catch (const E& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no exception raised";
    return UnicodeString();
}
