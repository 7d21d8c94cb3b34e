// Number formatting and parsing.
#include "toolkit/sysutils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

std::string S(const UnicodeString& U) { return UnicodeToUtf8(U); }

// "'<Text>'<Rest>", built by appending (g++ 12 warns wrongly about
// "'" + s + "..." at -O3).
std::string Quoted(const UnicodeString& Text, const char* Rest)
{
    std::string R = "'";
    R.append(S(Text));
    R.append("'");
    R.append(Rest);
    return R;
}

// Runs F and returns the runtime exception's message (UTF-8), "" when none.
template <class E, class F>
std::string MessageOf(F&& Fn)
{
    try {
        Fn();
    } catch (const E& X) {
        return S(X.Message());
    }
    return "";
}

class Numbers : public ::testing::Test {
protected:
    void SetUp() override
    {
        Saved = FormatSettings;
        FormatSettings.DecimalSeparator = u'.';
    }
    void TearDown() override { FormatSettings = Saved; }
    TFormatSettings Saved;
};

TEST_F(Numbers, GeneralFormatOfTheProgramsValues)
{
    EXPECT_EQ(S(FloatToStr(2.5 * 1000)), "2500");
    EXPECT_EQ(S(FloatToStr(1.5)), "1.5");
    EXPECT_EQ(S(FloatToStr((532.0 - 655.0) / (57.0 - 114.0))), "2.15789473684211");
    EXPECT_EQ(S(FloatToStrF(23.45 * 1.8 + 32, ffGeneral, 5, 3)), "74.21");
    EXPECT_EQ(S(FloatToStrF(1E15, ffGeneral, 15, 0)), "1E15");
    EXPECT_EQ(S(FloatToStr(0.0)), "0");
    EXPECT_EQ(S(FloatToStr(-0.0)), "0");
    EXPECT_EQ(S(FloatToStr(-12.25)), "-12.25");
    EXPECT_EQ(S(FloatToStr(0.1 + 0.2)), "0.3");
}

TEST_F(Numbers, GeneralFormatSwitchesToScientificAtPrecisionAndBelowOneHundredThousandth)
{
    // 15 digits before the point still fit; 16 do not.
    EXPECT_EQ(S(FloatToStr(999999999999999.0)), "999999999999999");
    EXPECT_EQ(S(FloatToStr(1234567890123456789.0)), "1.23456789012346E18");
    // Fahrenheit panel: 5 digits, exponent at least 3 digits.
    EXPECT_EQ(S(FloatToStrF(99999, ffGeneral, 5, 3)), "99999");
    EXPECT_EQ(S(FloatToStrF(100000, ffGeneral, 5, 3)), "1E005");
    EXPECT_EQ(S(FloatToStrF(123456, ffGeneral, 5, 3)), "1.2346E005");
    EXPECT_EQ(S(FloatToStrF(99999.6, ffGeneral, 5, 3)), "1E005");  // rounding carries into a 6th digit
    EXPECT_EQ(S(FloatToStrF(0.00001, ffGeneral, 5, 3)), "0.00001");
    EXPECT_EQ(S(FloatToStrF(0.0000099, ffGeneral, 5, 3)), "9.9E-006");
    EXPECT_EQ(S(FloatToStrF(-0.0000012345, ffGeneral, 15, 0)), "-1.2345E-6");
    EXPECT_EQ(S(FloatToStr(0.0001)), "0.0001");
    EXPECT_EQ(S(FloatToStr(1E-300)), "1E-300");
}

TEST_F(Numbers, RoundingIsHalfAwayFromZeroOnTheDecimalDigits)
{
    EXPECT_EQ(S(FloatToStrF(0.125, ffGeneral, 2, 0)), "0.13");
    EXPECT_EQ(S(FloatToStrF(-0.125, ffGeneral, 2, 0)), "-0.13");
    EXPECT_EQ(S(FloatToStrF(2.675, ffGeneral, 3, 0)), "2.67");  // binary value is below 2.675
    EXPECT_EQ(S(FloatToStrF(9.995, ffGeneral, 3, 0)), "9.99");
    EXPECT_EQ(S(FloatToStrF(9.9951, ffGeneral, 3, 0)), "10");
}

TEST_F(Numbers, FixedExponentAndNumberFormats)
{
    EXPECT_EQ(S(FloatToStrF(3.14159, ffFixed, 15, 2)), "3.14");
    EXPECT_EQ(S(FloatToStrF(0.006, ffFixed, 15, 2)), "0.01");
    EXPECT_EQ(S(FloatToStrF(-0.0004, ffFixed, 15, 2)), "0.00");
    EXPECT_EQ(S(FloatToStrF(2.0, ffFixed, 15, 0)), "2");
    EXPECT_EQ(S(FloatToStrF(1234567.891, ffNumber, 15, 2)), "1,234,567.89");
    EXPECT_EQ(S(FloatToStrF(1234.5, ffExponent, 6, 3)), "1.23450E+003");
    EXPECT_EQ(S(FloatToStrF(-0.00012, ffExponent, 3, 2)), "-1.20E-04");
    EXPECT_EQ(S(FloatToStrF(0.0, ffExponent, 3, 2)), "0.00E+00");
}

TEST_F(Numbers, ExtendedValuesAreRoundedOnceFromTheirOwnDigits)
{
    // 2 + 5.05E-15 rounds up at the 15th digit; the nearest double,
    // 2 + 11 * 2^-51 = 2.00000000000000488..., rounds down.
    const Extended X = 2.00000000000000505L;
    EXPECT_EQ(S(FloatToStr(X)), "2.00000000000001");
    EXPECT_EQ(S(FloatToStr(static_cast<double>(X))), "2");
    // Up to 18 digits of the 64-bit significand.
    EXPECT_EQ(S(FloatToStrF(1.0L / 3, ffGeneral, 18, 0)), "0.333333333333333333");
    EXPECT_EQ(S(FloatToStrF(-2.5E-7L, ffGeneral, 15, 0)), "-2.5E-7");
    EXPECT_EQ(S(FloatToStrF(1234.5L, ffFixed, 15, 2)), "1234.50");
}

TEST_F(Numbers, NonFiniteValues)
{
    EXPECT_EQ(S(FloatToStr(std::numeric_limits<double>::quiet_NaN())), "NAN");
    EXPECT_EQ(S(FloatToStr(std::numeric_limits<double>::infinity())), "INF");
    EXPECT_EQ(S(FloatToStr(-std::numeric_limits<double>::infinity())), "-INF");
}

TEST_F(Numbers, StrToFloatAcceptsWhatTheRuntimeAccepts)
{
    EXPECT_DOUBLE_EQ(StrToFloat(u"1.5"), 1.5);
    EXPECT_DOUBLE_EQ(StrToFloat(u"  -2.5  "), -2.5);
    EXPECT_DOUBLE_EQ(StrToFloat(u"+3"), 3);
    EXPECT_DOUBLE_EQ(StrToFloat(u"1e3"), 1000);
    EXPECT_DOUBLE_EQ(StrToFloat(u"1.25E-2"), 0.0125);
    EXPECT_DOUBLE_EQ(StrToFloat(u".5"), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat(u"5."), 5);
    EXPECT_DOUBLE_EQ(StrToFloat(u"23.45 "), 23.45);
    EXPECT_DOUBLE_EQ(StrToFloat(u"1e-400"), 0);
    double V = 7;
    for (const char16_t* Bad : {u"", u" ", u"abc", u"1,5", u"1.5x", u"--1", u"1e", u"1e+", u".", u"e5", u"1 2",
                                u"1e400", u"0x10", u"inf", u"nan"}) {
        EXPECT_FALSE(TryStrToFloat(Bad, V)) << S(Bad);
        EXPECT_EQ(MessageOf<EConvertError>([&] { StrToFloat(Bad); }), Quoted(Bad, " ist kein gültiger Gleitkommawert"));
    }
    EXPECT_EQ(V, 7);  // failed parses leave the value alone
}

TEST_F(Numbers, LongTextIsCutInTheConversionMessage)
{
    const UnicodeString Fit(200, u'7');
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt(Fit); }), Quoted(Fit, " ist kein gültiger Integerwert"));
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToFloat(Fit + u"x"); }),
              Quoted(Fit + u"\u2026", " ist kein gültiger Gleitkommawert"));
    // The cut never splits a surrogate pair.
    const UnicodeString Pair = UnicodeString(199, u'a') + u"\U0001F600" + UnicodeString(1000, u'b');
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt64(Pair); }),
              Quoted(UnicodeString(199, u'a') + u"\u2026", " ist kein gültiger Integerwert"));
}

TEST_F(Numbers, DecimalSeparatorDecidesParsingAndFormatting)
{
    FormatSettings.DecimalSeparator = u',';
    EXPECT_DOUBLE_EQ(StrToFloat(u"1,5"), 1.5);
    EXPECT_THROW(StrToFloat(u"1.5"), EConvertError);
    EXPECT_EQ(S(FloatToStr(2.25)), "2,25");
    EXPECT_EQ(S(FloatToStrF(123456, ffGeneral, 5, 3)), "1,2346E005");
    TFormatSettings Dot;
    EXPECT_EQ(S(FloatToStr(2.25, Dot)), "2.25");
}

TEST_F(Numbers, RoundTripOfFifteenDigitValues)
{
    for (double V : {1.0 / 3, 2.0 / 3, 1e-5, 123456.789, -9.87654321e-12, 6.02214076e23, 0.1, 4095.9999})
        EXPECT_NEAR(StrToFloat(FloatToStr(V)), V, std::abs(V) * 1e-14) << FloatToStr(V).size();
}

TEST_F(Numbers, TextOfTheLargestDoublesReadsBack)
{
    const double Max = std::numeric_limits<double>::max();
    EXPECT_EQ(S(FloatToStr(-Max)), "-1.79769313486232E308");
    for (double V : {Max, -Max, std::nextafter(Max, 0.0)})
        EXPECT_EQ(std::abs(StrToFloat(FloatToStr(V))), Max) << S(FloatToStr(V));
    EXPECT_EQ(StrToFloat(u"179769313486232000e291"), Max);
    double V = 7;
    // Beyond the 15-digit text is still an overflow, however it is written.
    for (const UnicodeString& Big : {UnicodeString(u"1.79769313486233E308"), UnicodeString(u"1.797693134862321E308"),
                                     UnicodeString(u"1e309"), u"1" + UnicodeString(400, u'0') + u"e-50"})
        EXPECT_FALSE(TryStrToFloat(Big, V)) << S(Big.substr(0, 30));
    EXPECT_EQ(V, 7);
    EXPECT_EQ(StrToFloat(u"0." + UnicodeString(400, u'0') + u"1e50"), 0);
}

TEST_F(Numbers, IntegerParsing)
{
    EXPECT_EQ(StrToInt(u"42"), 42);
    EXPECT_EQ(StrToInt(u"  -17"), -17);
    EXPECT_EQ(StrToInt(u"$1F"), 31);
    EXPECT_EQ(StrToInt(u"0x10"), 16);
    EXPECT_EQ(StrToInt(u"-2147483648"), -2147483647 - 1);
    EXPECT_EQ(StrToInt(u"$FFFFFFFF"), -1);
    EXPECT_EQ(StrToIntDef(u"x", -5), -5);
    EXPECT_EQ(StrToInt64(u"9223372036854775807"), 9223372036854775807LL);
    for (const char16_t* Bad : {u"", u"12 ", u"1.0", u"2147483648", u"abc", u"-", u"$", u"1e3", u"$1G"}) {
        EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt(Bad); }), Quoted(Bad, " ist kein gültiger Integerwert"))
            << S(Bad);
    }
}

TEST_F(Numbers, IntegerFormatting)
{
    EXPECT_EQ(S(IntToStr(-123)), "-123");
    EXPECT_EQ(S(IntToStr(-9223372036854775807LL - 1)), "-9223372036854775808");
    EXPECT_EQ(S(IntToHex(255, 4)), "00FF");
    EXPECT_EQ(S(IntToHex(0xABCDEF, 2)), "ABCDEF");
}

TEST_F(Numbers, FloatDivisionRaisesTheRuntimesErrors)
{
    EXPECT_DOUBLE_EQ(FloatDivide(1, 4), 0.25);
    EXPECT_EQ(MessageOf<EZeroDivide>([] { FloatDivide(1, 0); }), "Gleitkommadivision durch Null");
    EXPECT_EQ(MessageOf<EZeroDivide>([] { FloatDivide(-3, -0.0); }), "Gleitkommadivision durch Null");
    EXPECT_EQ(MessageOf<EInvalidOp>([] { FloatDivide(0, 0); }), "Ungültige Gleitkommaoperation");
    EXPECT_EQ(MessageOf<EInvalidOp>([] { FloatDivide(std::nan(""), 1); }), "Ungültige Gleitkommaoperation");
    EXPECT_THROW(FloatDivide(1e308, 1e-308), EOverflow);
    // Both are math errors, so one handler can take either.
    EXPECT_THROW(FloatDivide(0, 0), EMathError);
}

TEST_F(Numbers, FormatDirectives)
{
    EXPECT_EQ(S(Format(u"Fatal Error: %u, %u, %s", {5u, 0u, u"x"})), "Fatal Error: 5, 0, x");
    EXPECT_EQ(S(Format(u"%2X|%2X|%.4x", {5, 0xAB, 255})), " 5|AB|00FF");
    EXPECT_EQ(S(Format(u"%d|%5d|%-5d|%.3d", {-7, 42, 42, -7})), "-7|   42|42   |-007");
    EXPECT_EQ(S(Format(u"%u|%x", {-1, -1})), "4294967295|FFFFFFFF");
    EXPECT_EQ(S(Format(u"%g|%.3f|%e", {1.5, 2.0, 1234.5})), "1.5|2.000|1.23450000000000E+003");
    EXPECT_EQ(S(Format(u"%s-%s %1:s %%", {u"a", "b"})), "a-b b %");
    EXPECT_EQ(S(Format(u"%*d|%.2s", {4, 7, u"abc"})), "   7|ab");
    EXPECT_EQ(S(Format(u"%s", {AnsiString("\xE4")})), "ä");  // AnsiString is Windows-1252
}

TEST_F(Numbers, FormatMismatchRaisesConvertError)
{
    EXPECT_EQ(MessageOf<EConvertError>([] { Format(u"%d", {u"x"}); }),
              "Format '%d' ungültig oder nicht kompatibel mit Argument");
    EXPECT_THROW(Format(u"%s %s", {u"one"}), EConvertError);
    EXPECT_THROW(Format(u"%d", {1.5}), EConvertError);
    EXPECT_THROW(Format(u"%q", {1}), EConvertError);
    EXPECT_THROW(Format(u"abc %", {1}), EConvertError);
}

TEST_F(Numbers, WidthFromAnArgumentIsBoundedLikeAWrittenOne)
{
    EXPECT_EQ(Format(u"%*d", {100000, 1}).size(), 100000u);
    EXPECT_THROW(Format(u"%100001d", {1}), EConvertError);
    EXPECT_THROW(Format(u"%*d", {100001, 1}), EConvertError);
    EXPECT_THROW(Format(u"%.*d", {100001, 1}), EConvertError);
    EXPECT_THROW(Format(u"%*d", {500000000, 1}), EConvertError);
    // Not cut down to 32 bits: 2^32 + 5 is no width of 5.
    EXPECT_THROW(Format(u"%*d", {4294967301ull, 1}), EConvertError);
    EXPECT_EQ(S(Format(u"%*d|%.*d", {-3, 7, -2, 7})), "7|7");
}

TEST_F(Numbers, RuntimeErrorTexts)
{
    EXPECT_EQ(S(EInOutError(5).Message()), "Dateizugriff verweigert");
    EXPECT_EQ(S(EInOutError(8).Message()), "Zu wenig Speicherplatz");
    EXPECT_EQ(S(EInOutError(103).Message()), "E/A-Fehler 103");
    EXPECT_EQ(EInOutError(103).ErrorCode, 103);
    EXPECT_EQ(S(Format(RuntimeText::FOpenError, {u"a.dat", u"Grund"})),
              "Datei a.dat kann nicht geöffnet werden. Grund");
    EXPECT_EQ(S(Format(RuntimeText::FCreateError, {u"a.dat", u"Grund"})),
              "Datei \"a.dat\" kann nicht erstellt werden. Grund");
    EXPECT_EQ(MessageOf<EAbstractError>([] { AbstractErrorProc(); }), "Abstrakter Fehler");
}

#ifndef _WIN32
// Qt calls setlocale(LC_ALL, "") at start; under a German locale the C
// library then writes and reads a decimal comma. Nothing of ours may follow.
bool SetGermanLocale()
{
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return true;
    // Not installed: compile it into a private folder (glibc reads LOCPATH).
    std::string Dir = ::testing::TempDir() + "toolkit-locale";
    setenv("LOCPATH", Dir.c_str(), 1);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return true;  // made by an earlier run
    std::string Cmd = "mkdir -p '" + Dir + "' && localedef -i de_DE -f UTF-8 '" + Dir + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(Cmd.c_str()) != 0) return false;
    setenv("LOCPATH", Dir.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST_F(Numbers, DecimalCommaLocaleDoesNotChangeConversions)
{
    if (!SetGermanLocale()) GTEST_SKIP() << "no de_DE.UTF-8 locale and localedef failed";
    char Buf[32];
    std::snprintf(Buf, sizeof Buf, "%g", 1.5);
    ASSERT_EQ(std::string(Buf), "1,5") << "the locale did not switch the C library";
    EXPECT_EQ(S(FloatToStr(1.5)), "1.5");
    EXPECT_EQ(S(FloatToStr(2.00000000000000505L)), "2.00000000000001");
    EXPECT_EQ(S(FloatToStrF(23.45 * 1.8 + 32, ffGeneral, 5, 3)), "74.21");
    EXPECT_DOUBLE_EQ(StrToFloat(u"1.5"), 1.5);
    EXPECT_THROW(StrToFloat(u"1,5"), EConvertError);
    EXPECT_EQ(S(Format(u"%g %d", {2.5, 1000})), "2.5 1000");
    EXPECT_EQ(StrToInt(u"1000"), 1000);
    std::setlocale(LC_ALL, "C");
}

TEST_F(Numbers, DecimalSeparatorIsInitialisedFromTheLocaleEnvironment)
{
    auto WithLocale = [](const char* LcAll, const char* Lang) {
        std::string OldAll = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
        std::string OldLang = std::getenv("LANG") ? std::getenv("LANG") : "";
        setenv("LC_ALL", LcAll, 1);
        setenv("LANG", Lang, 1);
        InitFormatSettingsFromLocale();
        char16_t Sep = FormatSettings.DecimalSeparator;
        setenv("LC_ALL", OldAll.c_str(), 1);
        setenv("LANG", OldLang.c_str(), 1);
        return Sep;
    };
    EXPECT_EQ(WithLocale("de_DE.UTF-8", ""), u',');
    EXPECT_EQ(WithLocale("", "de_AT.UTF-8"), u',');
    EXPECT_EQ(WithLocale("de_CH.UTF-8", ""), u'.');
    EXPECT_EQ(WithLocale("en_US.UTF-8", "de_DE.UTF-8"), u'.');  // LC_ALL wins
    EXPECT_EQ(WithLocale("C", ""), u'.');
}
#endif

}  // namespace
