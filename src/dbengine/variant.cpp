#include "dbengine/variant.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

namespace tabsync::dao {

Variant::Variant(bool value) : kind_(Kind::kBoolean), boolean_(value) {}
Variant::Variant(int value) : kind_(Kind::kInteger), integer_(value) {}
Variant::Variant(int64_t value) : kind_(Kind::kInteger), integer_(value) {}
Variant::Variant(double value) : kind_(Kind::kDouble), double_(value) {}
Variant::Variant(const char* text) : kind_(Kind::kText), text_(text) {}
Variant::Variant(std::string text) : kind_(Kind::kText), text_(std::move(text)) {}
Variant::Variant(std::string_view text) : kind_(Kind::kText), text_(text) {}

Variant Variant::Date(std::string text) {
  Variant v(std::move(text));
  v.kind_ = Kind::kDate;
  return v;
}

Variant Variant::Binary(std::string bytes) {
  Variant v(std::move(bytes));
  v.kind_ = Kind::kBinary;
  return v;
}

Variant Variant::Decimal(std::string text) {
  Variant v(std::move(text));
  v.kind_ = Kind::kDecimal;
  return v;
}

bool Variant::IsNumber() const {
  return kind_ == Kind::kBoolean || kind_ == Kind::kInteger || kind_ == Kind::kDouble ||
         kind_ == Kind::kDecimal;
}

namespace {

// A decimal's text as a double; 0 for a text that is none.
double DecimalDouble(const std::string& text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// A decimal's whole part, exactly where it fits 64 bits.
int64_t DecimalWholePart(const std::string& text) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec == std::errc::result_out_of_range) return static_cast<int64_t>(DecimalDouble(text));
  return value;
}

}  // namespace

bool Variant::AsBoolean() const {
  switch (kind_) {
    case Kind::kBoolean: return boolean_;
    case Kind::kInteger: return integer_ != 0;
    case Kind::kDouble: return double_ != 0;
    case Kind::kDecimal: return text_.find_first_of("123456789") != std::string::npos;
    default: return false;
  }
}

int64_t Variant::AsInteger() const {
  switch (kind_) {
    case Kind::kBoolean: return boolean_ ? -1 : 0;
    case Kind::kInteger: return integer_;
    case Kind::kDouble: return static_cast<int64_t>(double_);
    case Kind::kDecimal: return DecimalWholePart(text_);
    default: return 0;
  }
}

double Variant::AsDouble() const {
  switch (kind_) {
    case Kind::kBoolean: return boolean_ ? -1 : 0;
    case Kind::kInteger: return static_cast<double>(integer_);
    case Kind::kDouble: return double_;
    case Kind::kDecimal: return DecimalDouble(text_);
    default: return 0;
  }
}

namespace {

void AppendNumberText(std::string* out, double value) {
  // Whole numbers are written as plain digits, never in exponent form
  // ("1e+15" would not read back as a key or an amount).
  char buffer[400];
  bool whole = std::isfinite(value) && value == std::trunc(value);
  auto result = whole ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                      : std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string_view text(buffer, result.ptr - buffer);
  out->append(text == "-0" ? "0" : text);
}

}  // namespace

std::string NumberText(double value) {
  std::string text;
  AppendNumberText(&text, value);
  return text;
}

std::string Variant::ToText() const {
  std::string text;
  AppendText(&text);
  return text;
}

void Variant::AppendText(std::string* out) const {
  switch (kind_) {
    case Kind::kNull: return;
    case Kind::kBoolean: out->append(boolean_ ? "True" : "False"); return;
    case Kind::kInteger: {
      char buffer[24];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, integer_);
      out->append(buffer, result.ptr);
      return;
    }
    case Kind::kDouble: AppendNumberText(out, double_); return;
    default: out->append(text_); return;
  }
}

bool Variant::operator==(const Variant& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::kNull: return true;
    case Kind::kBoolean: return boolean_ == other.boolean_;
    case Kind::kInteger: return integer_ == other.integer_;
    case Kind::kDouble: return double_ == other.double_;
    default: return text_ == other.text_;
  }
}

}  // namespace tabsync::dao
