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
        // A band of absorbance with pixels that have no value (too little light at the ends).
        TRatioSpectrum a, tr;
        for (int p = 0; p < 128; ++p) {
            const double d = (p - 86.4) / 17.4;
            const TPixelFault f = p < 6 || p > 120 || p == 50 ? TPixelFault::TooLittleLight : TPixelFault::None;
            a.Values.push_back(f == TPixelFault::None ? 0.4 * std::exp(-0.5 * d * d) + p % 7 * 1e-4 : 0);
            a.Faults.push_back(f);
            tr.Values.push_back(f == TPixelFault::None ? 100 * std::pow(10, -a.Values.back()) : 0);
            tr.Faults.push_back(f);
        }
        const TWavelengthScale scale{2.2001234567, 399.987654321};
        for (const auto& [name, table] :
             {std::pair{u"absorbance", MakeRatioTable(TQuantity::Absorbance, a, scale)},
              std::pair{u"transmittance", MakeRatioTable(TQuantity::Transmittance, tr, scale)}}) {
            WriteJcampFile(folder + u"/" + name + u".jdx", table, u"Farbstoff");
            WriteCsvFile(folder + u"/" + name + u".csv", table);
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
