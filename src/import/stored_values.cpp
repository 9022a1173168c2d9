#include "import/stored_values.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace tabsync::import {

namespace {

constexpr size_t kCalculatedPrefix = 16;
constexpr size_t kAttachmentWrapper = 8;
constexpr uint32_t kAttachmentRaw = 0;
constexpr uint32_t kAttachmentCompressed = 1;

uint32_t Number32(const char* at) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(at);
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// Inflates a zlib stream into exactly `length` bytes.
bool Inflate(std::string_view compressed, size_t length, std::string* out) {
  out->assign(length, '\0');
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out->data());
  stream.avail_out = static_cast<uInt>(length);
  int result = inflate(&stream, Z_FINISH);
  bool whole = result == Z_STREAM_END && stream.total_out == length;
  inflateEnd(&stream);
  return whole;
}

// A 128-bit number (four 32-bit words, the most significant first) in
// decimal, with a point before the last `scale` digits.
std::string DecimalText(bool negative, uint32_t words[4], int scale) {
  std::string digits;
  for (bool zero = false; !zero;) {
    // One division by 10^9 of the whole number, word by word.
    uint64_t rest = 0;
    zero = true;
    for (int i = 0; i < 4; ++i) {
      uint64_t part = (rest << 32) | words[i];
      words[i] = static_cast<uint32_t>(part / 1000000000u);
      rest = part % 1000000000u;
      zero = zero && words[i] == 0;
    }
    for (int i = 0; i < 9; ++i, rest /= 10) digits.insert(digits.begin(), static_cast<char>('0' + rest % 10));
  }
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.size() <= static_cast<size_t>(scale)) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
  return negative ? "-" + digits : digits;
}

}  // namespace

std::string StoredDecimalText(const unsigned char* bytes, int scale) {
  uint32_t words[4];
  for (int i = 0; i < 4; ++i) words[i] = Number32(reinterpret_cast<const char*>(bytes) + 1 + 4 * i);
  return DecimalText((bytes[0] & 0x80) != 0, words, scale);
}

bool CalculatedDecimalText(std::string_view value, std::string* text) {
  constexpr int kMaxScale = 28;
  if (value.size() < 16 || static_cast<unsigned char>(value[2]) > kMaxScale) return false;
  uint32_t words[4] = {0, Number32(value.data() + 4), Number32(value.data() + 12), Number32(value.data() + 8)};
  *text = DecimalText((static_cast<unsigned char>(value[3]) & 0x80) != 0, words, static_cast<unsigned char>(value[2]));
  return true;
}

namespace {

// `count` decimal digits at `at`.
bool ReadDigits(std::string_view text, size_t at, size_t count, int64_t* value) {
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

// A civil date from days since 0001-01-01 (proleptic Gregorian).
void CivilDate(int64_t days, int* year, int* month, int* day) {
  int64_t z = days + 306;  // days since 0000-03-01
  int64_t era = z / 146097, doe = z % 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

}  // namespace

bool ExtendedDateText(std::string_view stored, std::string* text) {
  constexpr int64_t kLastDay = 3652058;  // 9999-12-31
  constexpr int64_t kTicksPerDay = 864000000000;
  int64_t days = 0, ticks = 0;
  if (stored.size() < 41 || stored[19] != ':' || stored[39] != ':' || stored[40] != '7' ||
      !ReadDigits(stored, 0, 19, &days) || !ReadDigits(stored, 20, 19, &ticks) || days > kLastDay ||
      ticks >= kTicksPerDay)
    return false;
  int year = 0, month = 0, day = 0;
  CivilDate(days, &year, &month, &day);
  int64_t second = ticks / 10000000;
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.%07d", year, month, day,
                static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60), static_cast<int>(ticks % 10000000));
  *text = out;
  return true;
}

std::string GuidText(const unsigned char* bytes) {
  static constexpr int kOrder[] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
  std::string text = "{";
  char hex[3];
  for (int index : kOrder) {
    if (index < 0) {
      text += '-';
      continue;
    }
    std::snprintf(hex, sizeof hex, "%02X", bytes[index]);
    text += hex;
  }
  return text + "}";
}

bool UnwrapCalculated(std::string_view stored, std::string_view* value) {
  if (stored.size() < kCalculatedPrefix + 4) return false;
  uint32_t length = Number32(stored.data() + kCalculatedPrefix);
  if (length > stored.size() - kCalculatedPrefix - 4) return false;
  *value = stored.substr(kCalculatedPrefix + 4, length);
  return true;
}

bool DecodeAttachment(std::string_view stored, size_t limit, std::string* file, std::string* reason) {
  if (stored.size() < kAttachmentWrapper) {
    *reason = "shorter than its header";
    return false;
  }
  uint32_t type = Number32(stored.data());
  uint32_t length = Number32(stored.data() + 4);
  std::string_view body = stored.substr(kAttachmentWrapper);
  std::string content;
  if (length > limit) {
    *reason = "larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  if (type == kAttachmentCompressed) {
    if (!Inflate(body, length, &content)) {
      *reason = "its compressed data does not inflate to its length";
      return false;
    }
  } else if (type == kAttachmentRaw && body.size() >= length) {
    content.assign(body.substr(0, length));
  } else {
    *reason = "of an unknown form";
    return false;
  }
  uint32_t header = content.size() >= 4 ? Number32(content.data()) : 0;
  if (header < 4 || header > content.size()) {
    *reason = "its header is damaged";
    return false;
  }
  file->assign(content, header, std::string::npos);
  return true;
}

}  // namespace tabsync::import
