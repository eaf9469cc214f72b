#include "synth/number_text.h"

#include "synth/errors.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zelvo {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void RaiseNotANumber(const std::string& Text)
{
    throw EConvertError("'" + Text + "' is not a valid floating point value");
}

// Reads the mantissa digits and the decimal exponent the strict grammar allows
// and converts them to an 80-bit value. The text handed to strtold holds only
// digits, "e" and a sign, so the process locale cannot change its meaning.
long double ConvertStrict(const std::string& S, char Sep)
{
    const std::size_t N = S.size();
    std::size_t I = 0;
    while (I < N && S[I] == ' ')
        ++I;

    bool Negative = false;
    if (I < N && (S[I] == '+' || S[I] == '-')) {
        Negative = S[I] == '-';
        ++I;
    }

    std::string Digits;
    std::size_t MantissaChars = 0;
    std::int64_t IntDigits = 0;
    while (I < N && IsDigit(S[I])) {
        Digits += S[I++];
        ++IntDigits;
        ++MantissaChars;
    }
    if (I < N && S[I] == Sep) {
        ++I;
        ++MantissaChars;
        while (I < N && IsDigit(S[I])) {
            Digits += S[I++];
            ++MantissaChars;
        }
    }
    if (MantissaChars == 0)
        RaiseNotANumber(S);

    // Saturates far beyond any exponent that matters, so a long run of
    // exponent digits neither overflows nor changes the outcome.
    constexpr std::int64_t ExpCap = 1'000'000'000'000LL;
    std::int64_t Exp = 0;
    if (I < N && (S[I] == 'e' || S[I] == 'E')) {
        ++I;
        bool ExpNegative = false;
        if (I < N && (S[I] == '+' || S[I] == '-')) {
            ExpNegative = S[I] == '-';
            ++I;
        }
        while (I < N && IsDigit(S[I])) {
            if (Exp < ExpCap)
                Exp = Exp * 10 + (S[I] - '0');
            ++I;
        }
        if (ExpNegative)
            Exp = -Exp;
    }

    while (I < N && S[I] == ' ')
        ++I;
    if (I != N)
        RaiseNotANumber(S);

    // value = 0.Digits * 10^Point once the zeros on both ends are gone.
    const std::size_t First = Digits.find_first_not_of('0');
    if (First == std::string::npos)
        return Negative ? -0.0L : 0.0L;
    const std::size_t Last = Digits.find_last_not_of('0');
    Digits = Digits.substr(First, Last - First + 1);
    const std::int64_t Point = IntDigits - static_cast<std::int64_t>(First) + Exp;

    // 10^4933 is already beyond the 80-bit range; below 10^-5000 even the
    // smallest subnormal is out of reach.
    if (Point > 5000)
        RaiseNotANumber(S);
    long double Value = 0.0L;
    if (Point >= -5000) {
        const std::int64_t Scale = Point - static_cast<std::int64_t>(Digits.size());
        const std::string Clean = Digits + "e" + std::to_string(Scale);
        Value = std::strtold(Clean.c_str(), nullptr);
        if (std::isinf(Value))
            RaiseNotANumber(S);
    }
    return Negative ? -Value : Value;
}

} // namespace

double IntlStrToFloat(std::string_view Str, char DecimalSeparator)
{
    std::string Text(Str);
    for (char& C : Text)
        if (C == ',' || C == '.')
            C = DecimalSeparator;

    const long double Value = ConvertStrict(Text, DecimalSeparator);
    const double Result = static_cast<double>(Value);
    if (std::isinf(Result))
        throw EOverflow();
    return Result;
}

std::string NormalizeNumberText(std::string_view Text, float Min, float Max, float Decimals,
                                float Fallback, char DecimalSeparator)
{
    long double Value;
    try {
        Value = IntlStrToFloat(Text, DecimalSeparator);
    } catch (const EConvertError&) {
        Value = Fallback;
    } catch (const EOverflow&) {
        Value = Fallback;
    }
    if (Value > Max)
        Value = Max;
    if (!(Value >= Min))
        Value = Min;

    // At 2^63 and above an 80-bit value is already whole, and it would not fit
    // the 64-bit integer: such values (and a scale that over- or underflowed)
    // are left as they are instead of hitting an invalid conversion.
    const long double Scale = std::pow(10.0L, static_cast<long double>(Decimals));
    const long double Scaled = Value * Scale;
    constexpr long double Two63 = 9223372036854775808.0L;
    if (std::isfinite(Scaled) && std::fabs(Scaled) < Two63 && std::isnormal(Scale)) {
        const long long Whole = std::llrint(Scaled); // nearest, halves to even
        Value = static_cast<long double>(Whole) / Scale;
    }
    return FormatGeneral(Value, 15, DecimalSeparator);
}

std::string FormatGeneral(long double Value, int Precision, char DecimalSeparator)
{
    if (std::isnan(Value))
        return "NAN";
    if (std::isinf(Value))
        return Value < 0 ? "-INF" : "INF";
    if (Value == 0.0L)
        return "0";

    // More digits than an 80-bit value carries are not meaningful to show.
    if (Precision < 1)
        Precision = 1;
    if (Precision > 18)
        Precision = 18;

    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%.*Le", Precision - 1, Value);

    // The radix character of %e follows the process locale, so only the digits
    // before the exponent letter and the exponent itself are taken.
    const char* ExpPos = std::strrchr(Buf, 'e');
    if (ExpPos == nullptr)
        return "NAN";
    std::string Digits;
    for (const char* P = Buf; P < ExpPos; ++P)
        if (IsDigit(*P))
            Digits += *P;
    const long Exp10 = std::strtol(ExpPos + 1, nullptr, 10);
    const std::size_t LastNonZero = Digits.find_last_not_of('0');
    Digits.erase(LastNonZero == std::string::npos ? 1 : LastNonZero + 1);

    std::string Out;
    if (Value < 0)
        Out += '-';

    if (Exp10 >= -5 && Exp10 < Precision) {
        if (Exp10 >= 0) {
            const std::size_t IntLen = static_cast<std::size_t>(Exp10) + 1;
            if (Digits.size() <= IntLen) {
                Out += Digits;
                Out.append(IntLen - Digits.size(), '0');
            } else {
                Out += Digits.substr(0, IntLen);
                Out += DecimalSeparator;
                Out += Digits.substr(IntLen);
            }
        } else {
            Out += '0';
            Out += DecimalSeparator;
            Out.append(static_cast<std::size_t>(-Exp10 - 1), '0');
            Out += Digits;
        }
    } else {
        Out += Digits[0];
        if (Digits.size() > 1) {
            Out += DecimalSeparator;
            Out += Digits.substr(1);
        }
        Out += 'E';
        Out += std::to_string(Exp10);
    }
    return Out;
}

} // namespace zelvo
