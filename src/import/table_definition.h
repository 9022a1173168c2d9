#ifndef TABSYNC_IMPORT_TABLE_DEFINITION_H_
#define TABSYNC_IMPORT_TABLE_DEFINITION_H_

// A table's definition as the file stores it (its TDEF pages): the columns
// with their numbers and flags, and each logical index with the columns of
// the physical index definition it names. libmdb reads the columns, but
// attaches index names and flags to physical definitions by position, which
// puts a key on the wrong columns as soon as the two lists differ in order;
// this reads them as the file links them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/jet_text.h"

namespace tabsync::import {

struct TableColumnDefinition {
  std::string name;
  int type = 0;       // jet::k...
  int number = 0;     // the column's number; deleted columns keep theirs
  uint8_t flags = 0;  // 0x01 fixed size, 0x04 auto-increment, ...
  uint8_t extra_flags = 0;  // Jet 4 and later: 0xC0 marks a calculated column
  int size = 0;             // bytes as stored
  uint32_t complex_id = 0;  // complex columns: their ComplexID in MSysComplexColumns
};

struct TableIndexDefinition {
  std::string name;
  bool primary = false;
  bool foreign_key = false;  // kept for a relationship
  bool unique = false;
  bool ignore_nulls = false;
  std::vector<int> column_numbers;  // in key order
};

struct TableDefinition {
  std::vector<TableColumnDefinition> columns;  // in the order stored
  std::vector<TableIndexDefinition> indexes;   // the logical indexes, in the order stored
};

// Parses the definition `bytes`: the table's TDEF pages joined, each page
// after the first without its 8-byte header. `jet3` selects the Jet 3
// layout; names are decoded with `text`. Raises ReaderFailed ("the
// definition of table 'T' is damaged") when a count, offset or column
// number points outside the definition.
TableDefinition ParseTableDefinition(std::string_view bytes, bool jet3, JetTextDecoder& text,
                                     const std::string& table);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_TABLE_DEFINITION_H_
