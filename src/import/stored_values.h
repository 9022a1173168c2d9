#ifndef TABSYNC_IMPORT_STORED_VALUES_H_
#define TABSYNC_IMPORT_STORED_VALUES_H_

// Values whose stored form libmdb does not decode, or decodes wrongly: a
// GUID, a Decimal, the value of a calculated column, an attached file.

#include <string>
#include <string_view>

namespace tabsync::import {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from the 16 stored bytes (its
// first three groups little-endian, as Windows stores a GUID).
std::string GuidText(const unsigned char* bytes);

// A Decimal's 17 stored bytes as decimal text with `scale` digits after the
// point ("-12.3400"): a sign byte (0x80 below zero), then the unsigned
// 128-bit number in four 32-bit little-endian words, the most significant
// first.
std::string StoredDecimalText(const unsigned char* bytes, int scale);

// A calculated Decimal's value (ACE, after UnwrapCalculated): 16 bytes, two
// reserved, the scale (0 to 28), the sign (0x80 below zero), then the
// unsigned number: its high 32 bits and its low 64 bits, little-endian.
// False when the value is shorter or its scale larger.
bool CalculatedDecimalText(std::string_view value, std::string* text);

// A Date/Time Extended's 42 stored bytes (ACE 16 and later), ASCII: 19
// digits counting the days since 0001-01-01, ':', 19 digits counting the
// time of day in 100 ns, ':', the number of fraction digits ('7') and a
// blank; as "YYYY-MM-DD HH:MM:SS.fffffff". False when the bytes are not of
// that form, or the day lies beyond 9999-12-31 or the time beyond the day.
bool ExtendedDateText(std::string_view stored, std::string* text);

// The value inside a calculated column's stored field (ACE): 16 bytes, the
// value's length in 4 bytes, the value. False when the field is shorter
// than its prefix or than the length it gives.
bool UnwrapCalculated(std::string_view stored, std::string_view* value);

// The file inside an attachment's stored FileData: a type (0 stored as it
// is, 1 compressed with zlib) and a length in 4 bytes each, then the
// content: a header (its length in its first 4 bytes, the rest names the
// file type) and the file. False, with a reason, when the data is not of
// that form or decompresses to other than its stated length (at most
// `limit` bytes).
bool DecodeAttachment(std::string_view stored, size_t limit, std::string* file, std::string* reason);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_STORED_VALUES_H_
