// Acquisition state and the instrument's reply protocol, free of any GUI.
//
// The main window owns the controls; this unit owns the module state that the
// main window and the calibration dialog share, cuts the received bytes into
// lines and interprets each line through a small view interface, so the whole
// reply path can be driven by tests without widgets.
#pragma once

#include "toolkit/sysutils.h"

#include <array>
#include <cstdint>
#include <functional>

constexpr int SpectrumPoints = 128;

// Module state (main thread only).
extern AnsiString RxLine;         // bytes of the reply line being assembled
extern const AnsiString LineEnd;  // CR LF: appended to commands, searched in replies
extern std::int32_t LineEndPos;   // 1-based position in LineEnd of the byte expected next
extern std::int32_t PointCount;   // points received since the last command
extern std::array<std::int32_t, SpectrumPoints> Counts;
extern double CalSlope;           // nm per pixel index
extern double CalOffset;          // nm
extern std::int32_t CaptureTime;  // microseconds, from the last "CT" line
extern std::uint8_t ScanMode;     // 0 normal, 1/2 calibration scan for line 1/2

// Back to the start values (for tests and a fresh window).
void ResetAcquisitionState();
// Forgets the reply line being assembled (the port that sent it is gone).
void ResetLineFraming();

// What the line interpreter reads and writes of the main window.
class TAcquisitionView {
public:
    virtual ~TAcquisitionView() = default;
    virtual UnicodeString CommandText() const = 0;  // eSend
    virtual void SetCommandText(const UnicodeString& S) = 0;
    virtual UnicodeString ExposureText() const = 0;  // LECapture, milliseconds
    virtual void AddListLine(const UnicodeString& S) = 0;
    virtual void ClearList() = 0;
    virtual void SetCelsiusText(const UnicodeString& S) = 0;     // C_Panel
    virtual void SetFahrenheitText(const UnicodeString& S) = 0;  // F_Panel
    // The 128th point of a capture arrived: draw and search the peak.
    virtual void SpectrumComplete() = 0;
};

// Runs the received bytes through the CR LF framing (RxLine, LineEndPos) and
// calls OnLine with every completed line, converted from Windows-1252.
// A line whose interpretation raises does not stop the chunk: the line state
// is reset before OnLine runs and the remaining bytes are framed as usual;
// after the chunk the first error is raised again (the messages of further
// failed lines of the same chunk appended, one per line).
void FrameReceivedBytes(const std::uint8_t* Buffer, std::uint32_t Received,
                        const std::function<void(const UnicodeString&)>& OnLine);

// Interprets one complete reply line according to the command line's text.
// Raises EConvertError for numbers that do not convert.
void InterpretReplyLine(const UnicodeString& S, TAcquisitionView& View);

// Exposure conversions between the three fields. Each raises EConvertError
// when its input is not a decimal number.
UnicodeString CaptureCommandFor(const UnicodeString& ExposureMs);   // "s" + ms * 1000
UnicodeString TenthsFromExposure(const UnicodeString& ExposureMs);  // ms * 10
UnicodeString ExposureFromTenths(const UnicodeString& Tenths);      // tenths / 10
// Longest exposure reached by key release and spin steps, in milliseconds.
constexpr double MaxExposureMs = 30;

// Fahrenheit text of a Celsius value: 5 significant digits.
UnicodeString FahrenheitText(double Celsius);

// The command bytes sent for a command line: its text plus CR LF, Windows-1252.
AnsiString CommandBytes(const UnicodeString& CommandLine);
