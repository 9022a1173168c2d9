// Stored texts, GUIDs, Decimals, Date/Time Extended values, calculated
// values and attachments, decoded from their bytes.

#include "import/stored_values.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include "import/jet_text.h"

namespace tabsync::import {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int byte : bytes) out += static_cast<char>(byte);
  return out;
}

std::string Number32(uint32_t value) {
  return Bytes({static_cast<int>(value & 0xff), static_cast<int>((value >> 8) & 0xff),
                static_cast<int>((value >> 16) & 0xff), static_cast<int>(value >> 24)});
}

TEST(JetTextTest, DecodesStoredTextExactlyOrNotAtAll) {
  struct Case {
    bool jet3;
    int code_page;
    std::string stored;
    const char* text;  // nullptr: not decoded
  };
  const Case cases[] = {
      {false, 0, Bytes({'a', 0, 0xe4, 0, 0xac, 0x20}), "a\xc3\xa4\xe2\x82\xac"},  // a, ä, €
      // Compressed: one-byte run "ab", a 00 switches to two-byte units (€),
      // another 00 back.
      {false, 0, Bytes({0xff, 0xfe, 'a', 'b', 0, 0xac, 0x20, 0, 'c'}), "ab\xe2\x82\xac" "c"},
      {false, 0, Bytes({0x3d, 0xd8, 0x00, 0xde}), "\xf0\x9f\x98\x80"},  // U+1F600, a surrogate pair
      {false, 0, Bytes({0x3d, 0xd8, 'a', 0}), nullptr},                 // a high surrogate alone
      {false, 0, Bytes({0x00, 0xde}), nullptr},                         // a low surrogate alone
      {false, 0, Bytes({'a', 0, 'b'}), nullptr},                        // an odd byte
      {false, 0, Bytes({0xff, 0xfe, 'a', 0, 0xac}), nullptr},           // a two-byte run cut short
      {true, 1252, Bytes({'K', 0xf6, 'l', 'n', 0x80}), "K\xc3\xb6ln\xe2\x82\xac"},
      {true, 1252, Bytes({'a', 0x81}), nullptr},  // a byte code page 1252 leaves undefined
      {true, 1251, Bytes({0xc4, 0xe0}), "\xd0\x94\xd0\xb0"},
      {true, 932, Bytes({0x82, 0xa0, '\\'}), "\xe3\x81\x82\\"},
      {true, 932, Bytes({0x82}), nullptr},  // a two-byte character cut short
  };
  for (const Case& c : cases) {
    JetTextDecoder decoder(c.jet3, c.code_page);
    std::string text;
    bool decoded = decoder.Decode(reinterpret_cast<const unsigned char*>(c.stored.data()), c.stored.size(), &text);
    EXPECT_EQ(c.text != nullptr, decoded) << c.text;
    if (c.text && decoded) {
      EXPECT_EQ(c.text, text);
    }
  }
}

std::string Compressed(const std::string& content) {
  uLongf size = compressBound(content.size());
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(content.data()), content.size());
  out.resize(size);
  return out;
}

TEST(ImportStoredValuesTest, GuidsCalculatedValuesAndAttachments) {
  std::string guid = Bytes({0xab, 0xef, 0xcd, 0xab, 0x34, 0x12, 0x78, 0x56, 0x91, 0x23, 0xab, 0xcd, 0xef, 0xab, 0xcd, 0xef});
  EXPECT_EQ("{ABCDEFAB-1234-5678-9123-ABCDEFABCDEF}", GuidText(reinterpret_cast<const unsigned char*>(guid.data())));

  std::string_view value;
  ASSERT_TRUE(UnwrapCalculated(std::string(16, '\0') + Number32(4) + std::string("\x0c\0\0\0xyz", 7), &value));
  EXPECT_EQ(std::string_view("\x0c\0\0\0", 4), value);
  EXPECT_FALSE(UnwrapCalculated(std::string(16, '\0') + Number32(9) + "abc", &value));
  EXPECT_FALSE(UnwrapCalculated(std::string(12, '\0'), &value));

  // The content: a header of 12 bytes plus the type "txt\0" in UTF-16, then
  // the file.
  std::string header = Number32(20) + Number32(1) + Number32(4) + Bytes({'t', 0, 'x', 0, 't', 0, 0, 0});
  std::string content = header + "Attachment 1";
  const std::tuple<std::string, const char*, const char*> cases[] = {
      {Number32(0) + Number32(content.size()) + content, "Attachment 1", ""},
      {Number32(1) + Number32(content.size()) + Compressed(content), "Attachment 1", ""},
      {Number32(1) + Number32(content.size() + 1) + Compressed(content), nullptr,
       "its compressed data does not inflate to its length"},
      {Number32(2) + Number32(content.size()) + content, nullptr, "of an unknown form"},
      {Number32(0) + Number32(8) + Number32(40) + "abcd", nullptr, "its header is damaged"},
      {Number32(0) + Number32(1u << 30) + content, nullptr, "larger than 268435456 bytes"},
      {"abc", nullptr, "shorter than its header"},
  };
  for (const auto& [stored, file, reason] : cases) {
    std::string decoded, why;
    EXPECT_EQ(file != nullptr, DecodeAttachment(stored, 256u << 20, &decoded, &why)) << reason;
    EXPECT_EQ(file ? file : "", file ? decoded : "");
    EXPECT_EQ(reason, why);
  }
}

// Decimals (no file of the test data holds the largest ones or a negative
// zero) and Date/Time Extended values (no file holds one: hand-built from
// the format's description, the first ones those of mdb-reader's tests).
TEST(ImportStoredValuesTest, DecimalsAndExtendedDates) {
  const std::tuple<std::string, int, const char*> decimals[] = {
      {Bytes({0x80}) + std::string(12, '\0') + Bytes({0x39, 0x30, 0, 0}), 2, "-123.45"},
      {Bytes({0}) + std::string(16, '\xff'), 0, "340282366920938463463374607431768211455"},
      {Bytes({0}) + std::string(12, '\0') + Bytes({5, 0, 0, 0}), 3, "0.005"},
  };
  for (const auto& [stored, scale, text] : decimals)
    EXPECT_EQ(text, StoredDecimalText(reinterpret_cast<const unsigned char*>(stored.data()), scale));
  std::string calculated;
  ASSERT_TRUE(CalculatedDecimalText(Bytes({0, 0, 28, 0x80}) + std::string(12, '\xff'), &calculated));
  EXPECT_EQ("-7.9228162514264337593543950335", calculated);  // 2^96 - 1
  EXPECT_FALSE(CalculatedDecimalText(Bytes({0, 0, 29, 0}) + std::string(12, '\0'), &calculated));

  const std::pair<const char*, const char*> dates[] = {
      {"0000000000000000000:0000000000000000000:7 ", "0001-01-01 00:00:00.0000000"},
      {"0000000000000365240:0000000452967891234:7 ", "1000-12-30 12:34:56.7891234"},
      {"0000000000000738153:0000000452967891234:7 ", "2021-12-30 12:34:56.7891234"},
      {"0000000000003652058:0000000863999999999:7 ", "9999-12-31 23:59:59.9999999"},
      {"0000000000003652059:0000000000000000000:7 ", nullptr},  // after 9999-12-31
      {"0000000000000000000:0000000864000000000:7 ", nullptr},  // past the day's end
      {"00000000000000000x0:0000000000000000000:7 ", nullptr},
      {"0000000000000000000;0000000000000000000:7 ", nullptr},
      {"0000000000000000000:0000000000000000000:3 ", nullptr},  // not 7 digits of fraction
      {"0000000000000000000:0000000000000000000:", nullptr},
  };
  for (const auto& [stored, text] : dates) {
    std::string decoded;
    EXPECT_EQ(text != nullptr, ExtendedDateText(stored, &decoded)) << stored;
    EXPECT_EQ(text ? text : "", text ? decoded : "");
  }
}

}  // namespace
}  // namespace tabsync::import
