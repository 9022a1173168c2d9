#ifndef TABSYNC_TOOLS_JET_WRITER_JET_WRITER_H_
#define TABSYNC_TOOLS_JET_WRITER_JET_WRITER_H_

// Writes Jet 4 content that the real test files lack, into copies of them,
// for the import's tests and benchmark: a large table and a long Memo value.
//
// libmdb's write support (mdb_insert_row) only fills pages a table already
// has and fails with "Unable to allocate new page", so these write the pages
// themselves, in the layout libmdb reads (and mdb_pack_row4 writes). A
// table's indexes are left as they were: readers that scan the table
// (libmdb, mdb-export) do not use them.

#include <string>

namespace tabsync::jet_writer {

// Writes `output` (overwritten) from `jet4_template`, which must hold
// testV2000.mdb's Table1 (Text, Byte, Integer, Long, Double, Date/Time,
// Currency, Boolean), with `records` generated records added to Table1 on new
// data pages, found through a new usage map. Throws std::runtime_error.
void WriteJetTable(const std::string& jet4_template, const std::string& output, int records);

// Writes `output` (overwritten) from the Jet 4 file `jet4_template`, with
// the Memo column `column` of the first record of `table` holding `text`
// (ASCII, stored as UCS-2) on a chain of new long-value pages. Throws
// std::runtime_error.
void WriteLongMemo(const std::string& jet4_template, const std::string& output, const std::string& table,
                   const std::string& column, const std::string& text);

}  // namespace tabsync::jet_writer

#endif  // TABSYNC_TOOLS_JET_WRITER_JET_WRITER_H_
