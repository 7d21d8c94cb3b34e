#include "app/acquisition.h"

#include <exception>

AnsiString RxLine;
const AnsiString LineEnd = "\r\n";
std::int32_t LineEndPos = 1;
std::int32_t PointCount = 0;
std::array<std::int32_t, SpectrumPoints> Counts{};
double CalSlope = 0;
double CalOffset = 0;
std::int32_t CaptureTime = 0;
std::uint8_t ScanMode = 0;

void ResetLineFraming()
{
    RxLine.clear();
    LineEndPos = 1;
}

void ResetAcquisitionState()
{
    ResetLineFraming();
    PointCount = 0;
    Counts.fill(0);
    CalSlope = 0;
    CalOffset = 0;
    CaptureTime = 0;
    ScanMode = 0;
}

namespace {

// Empties RxLine; after a very long line its memory goes back as well.
void ReleaseLine()
{
    constexpr std::size_t KeptCapacity = 64 * 1024;
    if (RxLine.capacity() > KeptCapacity)
        AnsiString().swap(RxLine);
    else
        RxLine.clear();
}

}  // namespace

void FrameReceivedBytes(const std::uint8_t* Buffer, std::uint32_t Received,
                        const std::function<void(const UnicodeString&)>& OnLine)
{
    std::exception_ptr firstError;
    UnicodeString laterMessages;
    for (std::uint32_t i = 0; i < Received; ++i) {
        const char b = static_cast<char>(Buffer[i]);
        if (b == LineEnd[static_cast<std::size_t>(LineEndPos - 1)]) {
            if (LineEndPos >= static_cast<std::int32_t>(LineEnd.size())) {
                // Reset before interpreting, so a line that fails cannot leak
                // into the next one.
                UnicodeString line = AnsiToUnicode(RxLine);
                ReleaseLine();
                LineEndPos = 1;
                try {
                    OnLine(line);
                } catch (const Exception& e) {
                    if (!firstError)
                        firstError = std::current_exception();
                    else
                        laterMessages += u"\r" + e.Message();
                }
            } else {
                ++LineEndPos;
            }
        } else {
            // A CR followed by anything but LF is dropped, and that byte is
            // taken as line data without being compared with CR again.
            LineEndPos = 1;
            RxLine.push_back(b);
        }
    }
    if (!firstError) return;
    if (laterMessages.empty()) std::rethrow_exception(firstError);
    try {
        std::rethrow_exception(firstError);
    } catch (Exception& e) {
        e.SetMessage(e.Message() + laterMessages);
        throw;
    }
}

void InterpretReplyLine(const UnicodeString& S, TAcquisitionView& View)
{
    const UnicodeString command = View.CommandText();
    if (!command.empty() && command[0] == u's') {
        int p = Pos(u" ", S);
        if (p != 0) {
            // Spectrum point line: "<index> <count>".
            const UnicodeString countText = S.substr(static_cast<std::size_t>(p));
            const int count = StrToInt(countText);
            // Points beyond the 128th of a capture still make list lines but
            // have no slot to go to.
            if (PointCount >= 0 && PointCount < SpectrumPoints) Counts[static_cast<std::size_t>(PointCount)] = count;
            const double index = StrToFloat(S.substr(0, static_cast<std::size_t>(p - 1)));
            // Computed and formatted as Extended; only slope and offset are doubles.
            const Extended wavelength = static_cast<Extended>(index) * CalSlope + static_cast<Extended>(CalOffset);
            View.AddListLine(FloatToStr(wavelength) + u" " + countText);
            ++PointCount;
            if (PointCount == SpectrumPoints) View.SpectrumComplete();
            return;
        }
        p = Pos(u":", S);
        if (p > 0) {
            // Key line "<key>:<value>"; only the capture time is used.
            const UnicodeString key = S.substr(0, static_cast<std::size_t>(p - 1));
            if (key == u"CT") CaptureTime = StrToInt(S.substr(static_cast<std::size_t>(p)));
        }
        return;
    }
    if (command == u"t") {
        // Temperature line: the first six characters are degrees Celsius.
        const UnicodeString celsiusText = S.substr(0, 6);
        View.SetCelsiusText(celsiusText);
        const double celsius = StrToFloat(celsiusText);
        View.SetFahrenheitText(FahrenheitText(celsius));
        View.SetCommandText(CaptureCommandFor(View.ExposureText()));
        View.ClearList();
    }
}

UnicodeString CaptureCommandFor(const UnicodeString& ExposureMs)
{
    return u"s" + FloatToStr(StrToFloat(ExposureMs) * 1000);
}

UnicodeString TenthsFromExposure(const UnicodeString& ExposureMs) { return FloatToStr(StrToFloat(ExposureMs) * 10); }

UnicodeString ExposureFromTenths(const UnicodeString& Tenths) { return FloatToStr(StrToFloat(Tenths) / 10); }

UnicodeString FahrenheitText(double Celsius) { return FloatToStrF(Celsius * 1.8 + 32, ffGeneral, 5, 3); }

AnsiString CommandBytes(const UnicodeString& CommandLine) { return UnicodeToAnsi(CommandLine) + LineEnd; }
