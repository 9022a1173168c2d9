#ifndef TABSYNC_IMPORT_CATALOGUE_ROWS_H_
#define TABSYNC_IMPORT_CATALOGUE_ROWS_H_

// What the source file's catalogue (MSysObjects) becomes in the format's
// catalogue: link rows (Type 6 and 4) and the attributes of local tables.

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/sqlite_catalog.h"
#include "import/source_model.h"

namespace tabsync::import {

// One --path-map 'FROM=TO': a linked file's path that begins with FROM
// (ignoring the letter case of ASCII letters, as Windows does) begins with TO
// instead.
struct PathMapping {
  std::string from;
  std::string to;
};

// Parses "FROM=TO" (split at the first "="); false when either side is empty.
bool ParsePathMapping(const std::string& text, PathMapping* mapping);

// The path with the longest matching FROM replaced by its TO and every "\"
// turned into "/"; unchanged (backslashes and all) when no mapping matches,
// and then *mapped is false.
std::string MapPath(const std::string& path, const std::vector<PathMapping>& mappings, bool* mapped);

// The format's attribute bits of a local table with these MSysObjects Flags:
// hidden (1) and system object (0x80000002); 0 for a plain table.
int32_t TableAttributes(uint32_t flags);

// True when a Type 6 link's Connect text begins with a driver ("Excel
// 12.0 Xml;...", "Text;...", "dBASE IV;...", "HTML Import;..."): the linked
// file is no Jet or ACE file.
bool IsForeignFileLink(const SourceLink& link);

// The file (or folder) a Type 6 link names: the DATABASE= part of a foreign
// file link's Connect text, otherwise the catalogue's Database.
std::string LinkedPath(const SourceLink& link);

// The format's catalogue row of a linked table. Type 6: Connect
// ";DATABASE=" + the mapped path, or a foreign file link's whole Connect
// text with the mapped path as its DATABASE= part; attributes 0x40000000.
// Type 4: the stored Connect text with "ODBC;" in front unless it begins
// so, attributes 0x20000000, plus 0x20000 (link saves its password) when
// the text holds a PWD= part. Both plus hidden, and plus the system-object
// bits when the source row has them (the links Jet keeps for complex
// columns).
dao::CatalogRow LinkRow(const SourceLink& link, const std::string& mapped_path);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_CATALOGUE_ROWS_H_
