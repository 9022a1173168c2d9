#include "dbengine/decimal.h"

#include <cctype>
#include <cstdlib>

#include "dbengine/error.h"

namespace tabsync::dao {

namespace {

// An exponent beyond this is taken for no number: it would stand for more
// digits than any field holds, or for none of them.
constexpr int kMaxExponent = 1000;

// digits × 10^exponent, the digits without leading zeros ("" for zero).
struct Parsed {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// The exponent part after 'e' or 'E', whole.
bool ReadExponent(std::string_view text, int* exponent) {
  bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  if (text.empty()) return false;
  int value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
    if (value > kMaxExponent) return false;
  }
  *exponent = negative ? -value : value;
  return true;
}

std::optional<Parsed> Parse(std::string_view text) {
  text = Trimmed(text);
  Parsed parsed;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) parsed.negative = text[i++] == '-';
  bool any_digit = false, point = false;
  int fraction_digits = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (IsDigit(c)) {
      any_digit = true;
      if (point) ++fraction_digits;
      if (c != '0' || !parsed.digits.empty()) parsed.digits += c;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return std::nullopt;
  int exponent = 0;
  if (i < text.size()) {
    if ((text[i] != 'e' && text[i] != 'E') || !ReadExponent(text.substr(i + 1), &exponent))
      return std::nullopt;
  }
  if (parsed.digits.size() > static_cast<size_t>(kMaxExponent)) return std::nullopt;
  parsed.exponent = exponent - fraction_digits;
  return parsed;
}

// Adds one to a string of digits.
void Increment(std::string* digits) {
  for (size_t i = digits->size(); i-- > 0;) {
    if ((*digits)[i] != '9') {
      ++(*digits)[i];
      return;
    }
    (*digits)[i] = '0';
  }
  digits->insert(digits->begin(), '1');
}

// The digits of round(value × 10^shift), halves to even.
std::string Scaled(const std::string& digits, int shift) {
  if (shift >= 0) return digits + std::string(shift, '0');
  size_t drop = static_cast<size_t>(-shift);
  if (drop > digits.size()) return "";  // below half a unit: its first dropped digit is 0
  std::string kept = digits.substr(0, digits.size() - drop);
  char first = digits[digits.size() - drop];
  bool rest = digits.find_first_not_of('0', digits.size() - drop + 1) != std::string::npos;
  bool odd = !kept.empty() && (kept.back() - '0') % 2 == 1;
  if (first > '5' || (first == '5' && (rest || odd))) Increment(&kept);
  size_t nonzero = kept.find_first_not_of('0');
  return nonzero == std::string::npos ? "" : kept.substr(nonzero);
}

// Digits with a point before the last `scale` of them, at least one before it.
std::string WithPoint(bool negative, std::string digits, int scale) {
  if (digits.size() <= static_cast<size_t>(scale))
    digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
  return negative ? "-" + digits : digits;
}

}  // namespace

std::optional<std::string> DecimalText(std::string_view text, int precision, int scale) {
  std::optional<Parsed> parsed = Parse(text);
  if (!parsed) return std::nullopt;
  int shift = parsed->exponent + scale;
  if (!parsed->digits.empty() && shift > 0 &&
      parsed->digits.size() + static_cast<size_t>(shift) > static_cast<size_t>(precision))
    throw NumericOverflow();
  std::string scaled = parsed->digits.empty() ? "" : Scaled(parsed->digits, shift);
  if (scaled.size() > static_cast<size_t>(precision)) throw NumericOverflow();
  return WithPoint(parsed->negative && !scaled.empty(), scaled, scale);
}

std::optional<std::string> NormalDecimal(std::string_view text) {
  std::optional<Parsed> parsed = Parse(text);
  if (!parsed) return std::nullopt;
  std::string& digits = parsed->digits;
  if (digits.empty()) return "0";
  size_t last = digits.find_last_not_of('0');
  parsed->exponent += static_cast<int>(digits.size() - last - 1);
  digits.resize(last + 1);
  if (parsed->exponent >= 0) {
    digits.append(static_cast<size_t>(parsed->exponent), '0');
    return parsed->negative ? "-" + digits : digits;
  }
  return WithPoint(parsed->negative, digits, -parsed->exponent);
}

}  // namespace tabsync::dao
