#include "dbengine/variant.h"

#include <charconv>
#include <cmath>
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

bool Variant::IsNumber() const {
  return kind_ == Kind::kBoolean || kind_ == Kind::kInteger || kind_ == Kind::kDouble;
}

bool Variant::AsBoolean() const {
  switch (kind_) {
    case Kind::kBoolean: return boolean_;
    case Kind::kInteger: return integer_ != 0;
    case Kind::kDouble: return double_ != 0;
    default: return false;
  }
}

int64_t Variant::AsInteger() const {
  switch (kind_) {
    case Kind::kBoolean: return boolean_ ? -1 : 0;
    case Kind::kInteger: return integer_;
    case Kind::kDouble: return static_cast<int64_t>(double_);
    default: return 0;
  }
}

double Variant::AsDouble() const {
  switch (kind_) {
    case Kind::kBoolean: return boolean_ ? -1 : 0;
    case Kind::kInteger: return static_cast<double>(integer_);
    case Kind::kDouble: return double_;
    default: return 0;
  }
}

std::string NumberText(double value) {
  // Whole numbers are written as plain digits, never in exponent form
  // ("1e+15" would not read back as a key or an amount).
  char buffer[400];
  bool whole = std::isfinite(value) && value == std::trunc(value);
  auto result = whole ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                      : std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  return text == "-0" ? "0" : text;
}

std::string Variant::ToText() const {
  switch (kind_) {
    case Kind::kNull: return std::string();
    case Kind::kBoolean: return boolean_ ? "True" : "False";
    case Kind::kInteger: return std::to_string(integer_);
    case Kind::kDouble: return NumberText(double_);
    default: return text_;
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
