#ifndef TABSYNC_IMPORT_JET_HEADER_H_
#define TABSYNC_IMPORT_JET_HEADER_H_

// The first page of a Jet or ACE file, checked before libmdb sees the file:
// libmdb trusts the header and a file that only looks like a database can
// make it misbehave.

#include <optional>
#include <string>

namespace tabsync::import {

struct JetFileFormat {
  int version = 0;   // the byte at 0x14: 0 Jet 3, 1 Jet 4, 2 to 6 ACE
  std::string name;  // "Jet 3", "Jet 4", "ACE 12", "ACE 14", "ACE 15", "ACE 16", "ACE 17"
};

// Reads the header of the file at `path`. Raises 3024 when the file cannot
// be opened, 3343 (NotJetFile) unless it begins with 00 01 00 00 and
// "Standard Jet DB" (versions 0, 1) or "Standard ACE DB" (versions 2 to 6),
// and 4002 when the header holds a page-encoding key (the pages are
// encrypted), or a database password and `password` is not given or is not
// that password. A file protected only by its password has plain pages.
// The password is never part of an error.
JetFileFormat CheckJetHeader(const std::string& path, const std::optional<std::string>& password = std::nullopt);

// The header bytes from 0x18 on are stored RC4-encoded with a fixed key;
// this decodes (and encodes) `length` bytes in place. Exposed for tests.
void CodeHeaderBytes(unsigned char* bytes, size_t length);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_JET_HEADER_H_
