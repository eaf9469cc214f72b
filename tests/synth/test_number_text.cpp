#include "synth/number_text.h"

#include "synth/errors.h"

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace zelvo {
namespace {

class SeparatorTest : public ::testing::TestWithParam<char> {
protected:
    char Sep() const { return GetParam(); }
    // The text as the conversion sees it once both marks are the separator.
    std::string Replaced(std::string Text) const
    {
        for (char& C : Text)
            if (C == ',' || C == '.')
                C = Sep();
        return Text;
    }
};

INSTANTIATE_TEST_SUITE_P(PointAndComma, SeparatorTest, ::testing::Values('.', ','),
                         [](const auto& Info) { return Info.param == '.' ? "Point" : "Comma"; });

std::string ErrorOf(std::string_view Text, char Sep)
{
    try {
        IntlStrToFloat(Text, Sep);
    } catch (const EConvertError& E) {
        return E.what();
    }
    return "(no conversion error)";
}

TEST_P(SeparatorTest, ReadsAcceptedTexts)
{
    // Expected values go through the 80-bit intermediate, as the conversion does.
    const struct {
        const char* Text;
        long double Value;
    } Cases[] = {
        {"1.5", 1.5L},          {"1,5", 1.5L},    {" 12 ", 12.0L},      {"   -7   ", -7.0L},
        {"1e3", 1000.0L},       {"1E3", 1000.0L}, {"1,5e-3", 0.0015L},  {"+2.25E+2", 225.0L},
        {"1e", 1.0L},           {"1e-", 1.0L},    {".", 0.0L},          {",", 0.0L},
        {"-.", 0.0L},           {"1.", 1.0L},     {".5", 0.5L},         {"0.1", 0.1L},
        {"007", 7.0L},          {"1000.7", 1000.7L},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Text);
        EXPECT_EQ(IntlStrToFloat(C.Text, Sep()), static_cast<double>(C.Value));
    }
}

TEST_P(SeparatorTest, RejectsOtherTextsNamingTheReplacedText)
{
    const char* Cases[] = {
        "",     "   ",  "-",     "+",    "e5",    "12abc", "1,000.5", "1.2.3", "1 2",
        "\t1",  "1\t",  "--1",   "+-1",  "1e5e",  "1e 5",  ".e1x",    "0x10",  "inf",
        "nan",  "1_0",  "1'000", "١",
    };
    for (const char* Text : Cases) {
        SCOPED_TRACE(Text);
        EXPECT_EQ(ErrorOf(Text, Sep()), "'" + Replaced(Text) + "' is not a valid floating point value");
    }
}

TEST(IntlStrToFloat, MessageNamesTextAfterReplacement)
{
    EXPECT_EQ(ErrorOf("1.2.3", ','), "'1,2,3' is not a valid floating point value");
    EXPECT_EQ(ErrorOf("1,2,3", '.'), "'1.2.3' is not a valid floating point value");
    EXPECT_EQ(ErrorOf("", '.'), "'' is not a valid floating point value");
}

TEST_P(SeparatorTest, RangeLimits)
{
    // Fits the 80-bit intermediate but not a double.
    EXPECT_THROW(IntlStrToFloat("1e600", Sep()), EOverflow);
    EXPECT_THROW(IntlStrToFloat("-1e600", Sep()), EOverflow);
    try {
        IntlStrToFloat("1e600", Sep());
    } catch (const EOverflow& E) {
        EXPECT_STREQ(E.what(), "Floating point overflow");
    }
    // Beyond the 80-bit range: the text itself is not a number.
    EXPECT_THROW(IntlStrToFloat("1e5000", Sep()), EConvertError);
    EXPECT_THROW(IntlStrToFloat("1e99999999999999999999", Sep()), EConvertError);
    EXPECT_THROW(IntlStrToFloat("-1e99999999999999999999999999999999", Sep()), EConvertError);

    // The largest double still reads; tiny values fade to subnormals and zero.
    EXPECT_EQ(IntlStrToFloat("1.7976931348623157e308", Sep()), std::numeric_limits<double>::max());
    EXPECT_EQ(IntlStrToFloat("4.9406564584124654e-324", Sep()),
              std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(IntlStrToFloat("1e-400", Sep()), 0.0);
    EXPECT_EQ(IntlStrToFloat("1e-6000", Sep()), 0.0);
    EXPECT_EQ(IntlStrToFloat("1e-99999999999999999999", Sep()), 0.0);
    // A zero mantissa stays zero whatever the exponent.
    EXPECT_EQ(IntlStrToFloat("0e99999999999999999999", Sep()), 0.0);
    EXPECT_TRUE(std::signbit(IntlStrToFloat("-0", Sep())));
}

TEST_P(SeparatorTest, LongDigitStrings)
{
    // Leading zeros move the point, trailing zeros do not count.
    const std::string Zeros(100000, '0');
    EXPECT_EQ(IntlStrToFloat("0." + Zeros + "15e100001", Sep()), 1.5);
    EXPECT_EQ(IntlStrToFloat(Zeros + "1.25" + Zeros, Sep()), 1.25);
    EXPECT_EQ(IntlStrToFloat("1" + std::string(300, '0'), Sep()), 1e300);
    EXPECT_THROW(IntlStrToFloat("1" + std::string(400, '0'), Sep()), EOverflow);
    EXPECT_THROW(IntlStrToFloat(std::string(20000, '9'), Sep()), EConvertError);
    // Every digit takes part in the rounding: H is 1 + 2^-53 + 2^-64, halfway
    // between two 80-bit neighbours, one of which is halfway between 1 and its
    // double successor.
    const std::string H = "1.0000000000000001110765125711399292640635394491255283355712890625";
    EXPECT_EQ(IntlStrToFloat(H + "0001", Sep()), 1.0 + 0x1p-52);
    EXPECT_EQ(IntlStrToFloat(H.substr(0, H.size() - 1) + "4" + std::string(5000, '9'), Sep()), 1.0);
}

TEST(IntlStrToFloat, DoesNotDependOnProcessLocale)
{
    const char* Old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string Saved = Old ? Old : "C";
    const char* Names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8"};
    bool Switched = false;
    // Puts the locale back and removes a locale folder of our own, however the test ends.
    struct TRestore {
        std::string Locale, OwnLocales;
        ~TRestore() {
            std::setlocale(LC_NUMERIC, Locale.c_str());
            if (!OwnLocales.empty()) std::filesystem::remove_all(OwnLocales);
        }
    } Restore{Saved, {}};
    for (const char* Name : Names)
        if (std::setlocale(LC_NUMERIC, Name) != nullptr) {
            Switched = true;
            break;
        }
    if (!Switched) {
        // No such locale installed: compile one of our own from the locale sources.
        char Dir[] = "/tmp/zelvo-locale-XXXXXX";
        if (mkdtemp(Dir)) {
            Restore.OwnLocales = Dir;
            const std::string Cmd = std::string("localedef -i de_DE -f UTF-8 ") + Dir + "/de_DE.UTF-8 >/dev/null 2>&1";
            if (std::system(Cmd.c_str()) == 0) {
                setenv("LOCPATH", Dir, 1);
                Switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
            }
        }
    }
    if (!Switched)
        GTEST_SKIP() << "no locale with a comma separator installed";
    ASSERT_EQ(*std::localeconv()->decimal_point, ',');
    EXPECT_EQ(IntlStrToFloat("1.5", '.'), 1.5);
    EXPECT_EQ(IntlStrToFloat("1.5", ','), 1.5);
    EXPECT_EQ(FormatGeneral(1.5L, 15, '.'), "1.5");
    EXPECT_EQ(FormatGeneral(1.5e-7L, 15, '.'), "1.5E-7");
}

TEST_P(SeparatorTest, NormalizeNumberTextForTheAmplitudeField)
{
    const struct {
        const char* Text;
        const char* Result;
    } Cases[] = {
        {"-3.4", "-3"},  {"-3.5", "-4"},  {"-2.5", "-2"}, {"-0.4", "0"},   {"-0.5", "0"},
        {"5", "0"},      {"-250", "-100"}, {"abc", "0"},  {"", "0"},       {"-7,6", "-8"},
        {"-99.5", "-100"}, {"-100", "-100"}, {"1e600", "0"}, {"-1e600", "0"}, {"-", "0"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Text);
        EXPECT_EQ(NormalizeNumberText(C.Text, -100.0f, 0.0f, 0.0f, 0.0f, Sep()), C.Result);
    }
}

TEST_P(SeparatorTest, NormalizeNumberTextOtherArguments)
{
    const std::string S(1, Sep());
    EXPECT_EQ(NormalizeNumberText("-12.345", -100, 0, 1, 0, Sep()), "-12" + S + "3");
    EXPECT_EQ(NormalizeNumberText("0.125", 0, 1, 2, 0, Sep()), "0" + S + "12");
    EXPECT_EQ(NormalizeNumberText("x", -100, 0, 0, -6.5f, Sep()), "-6");
    // Values too large for the 64-bit integer are whole already and stay as they are.
    EXPECT_EQ(NormalizeNumberText("1e25", 0, 1e30f, 0, 0, Sep()), "1E25");
    EXPECT_EQ(NormalizeNumberText("12.5", 0, 100, 40, 0, Sep()), "12" + S + "5");
}

TEST_P(SeparatorTest, FormatGeneralForms)
{
    const std::string S(1, Sep());
    const struct {
        long double Value;
        int Precision;
        std::string Text;
    } Cases[] = {
        {0.1f, 15, "0" + S + "100000001490116"},
        {1000.7f, 15, "1000" + S + "70001220703"},
        {1000.0L, 15, "1000"},
        {0.0L, 15, "0"},
        {-0.0L, 15, "0"},
        {-2.5L, 15, "-2" + S + "5"},
        {123456789012345.0L, 15, "123456789012345"},
        {1234567890123456.0L, 15, "1" + S + "23456789012346E15"},
        {999999999999999.5L, 15, "1E15"},
        {1e20L, 15, "1E20"},
        {-1.5e-6L, 15, "-1" + S + "5E-6"},
        {0.00001L, 15, "0" + S + "00001"},
        {0.0000123L, 15, "0" + S + "0000123"},
        {0.0000099999L, 15, "9" + S + "9999E-6"},
        {0.0001L, 15, "0" + S + "0001"},
        {0.5011872f, 7, "0" + S + "5011872"},
        {1234567.0L, 7, "1234567"},
        {12345678.0L, 7, "1" + S + "234568E7"},
        {std::numeric_limits<float>::denorm_min(), 15, "1" + S + "40129846432482E-45"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Text);
        EXPECT_EQ(FormatGeneral(C.Value, C.Precision, Sep()), C.Text);
    }
}

TEST(FormatGeneral, DecibelsOfAStoredGain)
{
    const float Gain = static_cast<float>(std::pow(10.0L, -6.0L / 20.0L));
    EXPECT_EQ(FormatGeneral(20.0L * std::log10(static_cast<long double>(Gain)), 7, '.'), "-6");
}

TEST(FormatGeneral, NonFiniteValuesAreNamed)
{
    EXPECT_EQ(FormatGeneral(std::numeric_limits<long double>::quiet_NaN(), 15, '.'), "NAN");
    EXPECT_EQ(FormatGeneral(std::numeric_limits<long double>::infinity(), 15, '.'), "INF");
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<long double>::infinity(), 15, '.'), "-INF");
}

// Whatever a field shows for a stored 32-bit value must store the same value
// again, whichever separator the text was written with.
TEST(FormatGeneral, FloatsReadBackExactly)
{
    std::mt19937 Rng(20240611u);
    std::vector<float> Values = {
        std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::min(),
        std::numeric_limits<float>::max(),        -std::numeric_limits<float>::max(),
        0.1f, 1000.7f, 1e-5f, 9.99999e-6f, 1e15f, 1e16f, 123456789.0f,
    };
    for (int I = 0; I < 20000; ++I) {
        // Random bit patterns spread evenly over the exponents, subnormals included.
        const float F = std::bit_cast<float>(static_cast<std::uint32_t>(Rng()));
        if (std::isfinite(F))
            Values.push_back(F);
    }
    for (float F : Values) {
        for (char WriteSep : {'.', ','}) {
            const std::string Text = FormatGeneral(F, 15, WriteSep);
            for (char ReadSep : {'.', ','}) {
                float Back = 0.0f;
                try {
                    Back = static_cast<float>(IntlStrToFloat(Text, ReadSep));
                } catch (const EZelvoError& E) {
                    ADD_FAILURE() << Text << ": " << E.what();
                    continue;
                }
                if (std::bit_cast<std::uint32_t>(Back) != std::bit_cast<std::uint32_t>(F) &&
                    !(F == 0.0f && Back == 0.0f))
                    ADD_FAILURE() << "wrote " << Text << " for " << F << ", read back " << Back;
            }
        }
    }
}

} // namespace
} // namespace zelvo
