#include "app/calibration.h"

#include "toolkit/classes.h"

#include <cmath>

UnicodeString CalibrationFilePath(const UnicodeString& ProgramDirectory)
{
    return ProgramDirectory + u"data/conf.dat";
}

void LoadCalibration(const UnicodeString& FileName, double& Slope, double& Offset)
{
    TStringList lines;
    lines.LoadFromFile(FileName);
    Slope = StrToFloat(lines[0]);
    Offset = StrToFloat(lines[1]);
}

TCalibration ComputeCalibration(double A, double B, double C, double D)
{
    const long double dividend = static_cast<long double>(A) - B;
    const long double divisor = static_cast<long double>(C) - D;
    if (divisor == 0) {
        // What the FPU reports: x/0 is a division by zero, 0/0 an invalid operation.
        if (dividend == 0 || std::isnan(dividend))
            throw EInvalidOp(RuntimeText::InvalidOp);
        throw EZeroDivide(RuntimeText::ZeroDivide);
    }
    TCalibration cal;
    cal.Slope = CheckFloat(static_cast<double>(dividend / divisor));
    cal.Offset = CheckFloat(static_cast<double>(static_cast<long double>(A) -
                                                static_cast<long double>(C) * cal.Slope));
    return cal;
}

void SaveCalibration(const UnicodeString& FileName, double Slope, double Offset)
{
    TStringList lines;
    lines.Add(FloatToStr(Slope));
    lines.Add(FloatToStr(Offset));
    lines.SaveToFile(FileName);
}
