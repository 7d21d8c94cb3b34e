// Figures of an interleaved benchmark: one sample per round and path, printed
// as the median with the spread (min-max) over the rounds. Ratios are taken
// between medians of the same run.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

struct TSpread {
    double Median = 0, Min = 0, Max = 0;
};

inline TSpread SpreadOf(std::vector<double> Samples)
{
    TSpread s;
    if (Samples.empty()) return s;
    std::sort(Samples.begin(), Samples.end());
    const size_t n = Samples.size();
    s.Median = n % 2 ? Samples[n / 2] : (Samples[n / 2 - 1] + Samples[n / 2]) / 2;
    s.Min = Samples.front();
    s.Max = Samples.back();
    return s;
}

// The value at quantile Q (0..1) of Samples (sorted in place).
inline double Quantile(std::vector<double>& Samples, double Q)
{
    if (Samples.empty()) return 0;
    std::sort(Samples.begin(), Samples.end());
    const size_t i = std::min(Samples.size() - 1, static_cast<size_t>(Q * static_cast<double>(Samples.size())));
    return Samples[i];
}

// "median [min-max]" with the given precision.
inline std::string Format(const TSpread& S, int Decimals = 1)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.*f [%.*f-%.*f]", Decimals, S.Median, Decimals, S.Min, Decimals, S.Max);
    return buf;
}

// CPU time of the whole process (all threads, the scheduler's exact run
// time; getrusage's user/system split is scaled from ticks and lags by
// fractions of a millisecond) and its context switches.
struct TUsage {
    double CpuMs = 0;
    double Switches = 0;
};

inline TUsage ProcessUsage()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    TUsage r;
    r.CpuMs = static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
    r.Switches = static_cast<double>(u.ru_nvcsw + u.ru_nivcsw);
    return r;
}

// The first line of /proc/loadavg, to print beside the figures.
inline std::string LoadAverage()
{
    std::string s;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        char buf[128] = {};
        if (std::fgets(buf, sizeof buf, f)) s = buf;
        std::fclose(f);
    }
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace bench
