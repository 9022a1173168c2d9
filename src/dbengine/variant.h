#ifndef TABSYNC_DBENGINE_VARIANT_H_
#define TABSYNC_DBENGINE_VARIANT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace tabsync::dao {

// A field value as the engine reads and writes it: Null, a Boolean, a whole
// number, a floating-point number, an exact decimal number (its text, as
// DecimalText in dbengine/decimal.h writes it), a text (UTF-8), a date
// ("YYYY-MM-DD HH:MM:SS", with 7 digits of the second's fraction after a
// point for a Date/Time Extended field) or binary data. Field.Value gives the kind that fits the field's
// type; a value written to a field is converted to the field's type there.
class Variant {
 public:
  enum class Kind { kNull, kBoolean, kInteger, kDouble, kDecimal, kText, kDate, kBinary };

  Variant() = default;  // Null
  Variant(bool value);
  Variant(int value);
  Variant(int64_t value);
  Variant(double value);
  Variant(const char* text);
  Variant(std::string text);
  Variant(std::string_view text);

  static Variant Null() { return Variant(); }
  // A date given as "YYYY-MM-DD HH:MM:SS"; not checked here.
  static Variant Date(std::string text);
  static Variant Binary(std::string bytes);
  // An exact decimal number given as its text ("-12.3400"); not checked here.
  static Variant Decimal(std::string text);

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::kNull; }
  // Boolean, whole, floating-point and decimal numbers.
  bool IsNumber() const;
  bool IsText() const { return kind_ == Kind::kText; }

  // The value as a Boolean (non-zero numbers are true); false for others.
  bool AsBoolean() const;
  // Whole-number value; a Boolean gives -1/0, a double or a decimal is
  // truncated (a decimal beyond the 64 bits through its double).
  int64_t AsInteger() const;
  // Numeric value; a Boolean gives -1/0, a decimal the nearest double.
  double AsDouble() const;
  // The stored text of a Decimal, Text, Date or Binary value; empty for the
  // others.
  const std::string& AsString() const { return text_; }

  // The text form used in log lines: whole numbers in decimal digits, other
  // numbers in their shortest round-trip decimal form, decimals as their
  // text, Booleans "True" and "False", dates as stored, texts unchanged, Null as an empty text.
  std::string ToText() const;
  // Appends ToText() to *out, without a string of its own.
  void AppendText(std::string* out) const;

  // Same kind and same value (texts compared exactly). For tests and for
  // callers that need strict identity; the merge has its own comparison rules.
  bool operator==(const Variant& other) const;

 private:
  Kind kind_ = Kind::kNull;
  bool boolean_ = false;
  int64_t integer_ = 0;
  double double_ = 0;
  std::string text_;
};

// Text form of a double as Variant::ToText writes it.
std::string NumberText(double value);

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_VARIANT_H_
