// Writes sample.jdx and sample.csv of one spectrum (averaged, calibrated)
// into the folder given, for the independent JCAMP-DX reader's test.
#include "app/spectrum/spectrumfiles.h"

#include <cmath>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: jcamp_sample FOLDER\n");
        return 2;
    }
    TCounts counts, std;
    for (int p = 0; p < 128; ++p) {
        const double d = (p - 66.3) / 1.1;
        counts.push_back(18.25 + std::round(7300 * std::exp(-0.5 * d * d)) / 10 + p % 3 / 3.0);
        std.push_back(1.5 + p % 5 / 7.0);
    }
    const TSpectrumTable t = MakeTable(counts, std, {2.2001234567, 399.987654321});
    const UnicodeString folder = Utf8ToUnicode(argv[1]);
    try {
        WriteJcampFile(folder + u"/sample.jdx", t, u"Leuchtstoffröhre");
        WriteCsvFile(folder + u"/sample.csv", t);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
