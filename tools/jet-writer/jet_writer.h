#ifndef TABSYNC_TOOLS_JET_WRITER_JET_WRITER_H_
#define TABSYNC_TOOLS_JET_WRITER_JET_WRITER_H_

// Writes Jet 4 content that the real test files lack, into copies of them,
// for the import's tests and benchmark: large tables (of Decimal and Memo
// columns too) and a long Memo value.
//
// libmdb's write support (mdb_insert_row) only fills pages a table already
// has and fails with "Unable to allocate new page", so these write the pages
// themselves, in the layout libmdb reads (and mdb_pack_row4 writes). A
// table's indexes are left as they were: readers that scan the table
// (libmdb, mdb-export) do not use them.

#include <string>

namespace tabsync::jet_writer {

// Writes `output` (overwritten) from `jet4_template`, with `records`
// generated records added to its `table` on new data pages, found through a
// new usage map. The table's columns must be of these types: Text, Memo
// (kept in the record, 60 to 171 characters), Byte, Integer, Long, Double,
// Date/Time, Currency, Boolean, Decimal (numbers of as many digits as its
// precision allows, 18 at most). Throws std::runtime_error.
void WriteJetTable(const std::string& jet4_template, const std::string& output, const std::string& table,
                   int records);

// Writes `output` (overwritten) from the Jet 4 file `jet4_template`, with
// the Memo column `column` of the first record of `table` holding `text`
// (ASCII, stored as UCS-2) on a chain of new long-value pages. Throws
// std::runtime_error.
void WriteLongMemo(const std::string& jet4_template, const std::string& output, const std::string& table,
                   const std::string& column, const std::string& text);

}  // namespace tabsync::jet_writer

#endif  // TABSYNC_TOOLS_JET_WRITER_JET_WRITER_H_
