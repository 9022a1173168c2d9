#ifndef TABSYNC_DBENGINE_DECIMAL_H_
#define TABSYNC_DBENGINE_DECIMAL_H_

// Exact decimal numbers, as the Decimal field type keeps them: in text, so
// that no digit passes through a double.

#include <optional>
#include <string>
#include <string_view>

namespace tabsync::dao {

// A Decimal holds from 1 to 57 digits, `scale` (0 to precision) of them
// after the point; 18 and 0 unless given. A Jet file's Decimal columns hold
// up to 28; the values of a calculated one are 96-bit numbers (29 digits)
// of which up to 28 follow the point, which 57 digits hold whatever they are.
constexpr int kMaxDecimalPrecision = 57;
constexpr int kDefaultDecimalPrecision = 18;

// The text form of `text` in a Decimal of `precision` and `scale`: a '-'
// for a value below zero, the whole part's digits without leading zeros
// ("0" when it has none), and with a scale above 0 a point and exactly
// `scale` digits ("-12.3400"). `text` is a number in decimal digits, with a
// sign, a point and an exponent as it pleases ("+1.5e3", " 7 ", ".5"); more
// fraction digits than the scale are rounded to it, halves to even. Nothing
// when `text` is no such number; raises 3349 when the whole part has more
// than precision - scale digits.
std::optional<std::string> DecimalText(std::string_view text, int precision, int scale);

// The number a decimal text (as DecimalText takes it) stands for, written
// one way only: no leading zeros, no trailing zeros after the point, no
// point without digits after it, "0" for zero ("-12.34", "1200", "0.05").
// Two texts stand for the same number exactly when these are equal. Nothing
// for a text that is no number.
std::optional<std::string> NormalDecimal(std::string_view text);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_DECIMAL_H_
