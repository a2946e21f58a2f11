// Numbers as this program prints them for people: a decimal comma where a
// Russian reader and spreadsheet expect one, and values judged against a
// limit at exactly the three decimals they are printed with.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qs {

// The shortest form ("%g"), decimal comma: 1,5; 16; 0,05.
std::string decimalComma(double v);
// A fixed number of decimals, decimal comma: decimalFixed(99.8, 1) = "99,8".
std::string decimalFixed(double v, int decimals);

// A number as a person writes it here: an optional sign, digits with a
// decimal comma or point, nothing else but blanks around it (an exponent
// as C writes it is taken too). None for anything else.
std::optional<double> parseDecimal(std::string_view text);
// A hexadecimal number as typed (an address, a serial number): hex digits
// only, blanks around them, no larger than `largest`. None for anything else.
std::optional<unsigned long> parseHex(std::string_view text, unsigned long largest);

// A value this large or larger is beyond every limit, and printed as it is.
constexpr double kLargestValue = 1e12;
// A value in thousandths, rounded half away from zero (0 for a value that
// is no number or beyond kLargestValue).
int64_t thousandths(double v);
// A value with three decimals, rounded as thousandths() rounds it.
std::string fixed3(double v, char point = '.');
// A current with three decimals, or with as many as show its first three
// significant digits when it is smaller (0.0005 A is not 0.000).
std::string currentText(double amperes, char point = '.');

}  // namespace qs
