// The lab windows' tables as CSV ("," between fields, "." decimal point,
// UTF-8, LF): the standards and samples of a concentration series, and the
// points of a kinetics run. Free of any GUI.
#pragma once

#include "toolkit/sysutils.h"

#include <string>
#include <vector>

struct TSeriesRow {
    bool Sample = false;  // a sample (its concentration computed), else a standard
    UnicodeString Name;
    double Concentration = 0;
    double Absorbance = 0;
};
// "kind,name,concentration,absorbance", then "standard,..." / "sample,..."
// rows; a name with "," or '"' is quoted.
std::string SeriesCsv(const std::vector<TSeriesRow>& Rows);
// The standards of such a file (sample rows are skipped). Raises
// EConvertError with the line for a row that does not read.
std::vector<TSeriesRow> ReadSeriesCsv(const std::string& Text);

// "time_s,<quantity>_<nm>nm,..." then one row per capture; a missing value
// is an empty field.
struct TKineticsTable {
    std::vector<UnicodeString> Columns;  // "absorbance_590nm"
    std::vector<double> Times;
    std::vector<std::vector<double>> Values;  // per column, NaN: none
};
std::string KineticsCsv(const TKineticsTable& Table);
