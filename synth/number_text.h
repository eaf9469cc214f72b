#pragma once
// Reading and writing the numbers of the entry fields. Both "," and "." are read
// as the decimal separator; written numbers use the locale's separator, so that
// whatever the program shows reads back to the same value.
#include <string>
#include <string_view>

namespace zelvo {

// Reads Str as a decimal number. Every "," and "." is taken for the decimal
// separator. Raises EConvertError ("'%s' is not a valid floating point value",
// naming the text after the separator replacement) or EOverflow.
double IntlStrToFloat(std::string_view Str, char DecimalSeparator);

// Reads Text with a fallback instead of an error, limits it to [Min, Max],
// rounds it to Decimals places (halves to even) and gives the text the field
// is to show, in the general form with 15 significant digits.
std::string NormalizeNumberText(std::string_view Text, float Min, float Max, float Decimals,
                                float Fallback, char DecimalSeparator);

// The general number form: at most Precision significant digits, no trailing
// zeros, the separator only when a fraction remains; fixed notation when the
// magnitude is at least 0.00001 and the integer part has at most Precision
// digits, scientific notation otherwise.
std::string FormatGeneral(long double Value, int Precision, char DecimalSeparator);

} // namespace zelvo
