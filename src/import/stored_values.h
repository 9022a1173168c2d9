#ifndef TABSYNC_IMPORT_STORED_VALUES_H_
#define TABSYNC_IMPORT_STORED_VALUES_H_

// Values whose stored form libmdb does not decode, or decodes wrongly: a
// GUID, the value of a calculated column, an attached file.

#include <string>
#include <string_view>

namespace tabsync::import {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from the 16 stored bytes (its
// first three groups little-endian, as Windows stores a GUID).
std::string GuidText(const unsigned char* bytes);

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
