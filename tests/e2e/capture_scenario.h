// The capture scenario both program builds run: pick the port, read the
// temperature, capture, save, two calibration scans, capture on the new
// calibration; the list, both files and the calibration file byte for byte.
#pragma once

#include "tests/e2e/process.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// How the scenario runs the program.
struct TProgramHost {
    std::filesystem::path Root;        // bin/ holds the program and data/, out/ the exports
    std::vector<std::string> Command;  // the program, up to its own options
    std::vector<std::string> Env;
    std::string Com;  // the port the simulator is on, as the program names it
    // A path as the program takes it on its command line and in the script.
    std::function<std::string(const std::filesystem::path&)> ProgramPath = [](const std::filesystem::path& P) {
        return P.string();
    };
    int Slack = 1;           // time-outs are multiplied by it
    std::string Screenshot;  // program's path of a picture after the first capture ("": none)
};

// Runs the scenario against the simulator Sim (green laser, seed 7; it
// answers "lamp red-laser" when told so). The program's output lines are
// returned for further checks.
std::vector<std::string> RunCaptureSaveAndCalibrate(const TProgramHost& Host, Process& Sim);

// Output lines of the independent model of the extended-precision wavelengths.
std::vector<std::string> ModelLines(const std::string& Args);
