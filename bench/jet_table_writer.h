#ifndef TABSYNC_BENCH_JET_TABLE_WRITER_H_
#define TABSYNC_BENCH_JET_TABLE_WRITER_H_

// Makes a large Jet 4 table for the import benchmark. libmdb's write support
// (mdb_insert_row) only fills pages a table already has and fails with
// "Unable to allocate new page", so this writes the pages itself: a copy of
// a real Jet 4 file whose table Table1 (Text, Byte, Integer, Long, Double,
// Date/Time, Currency, Boolean) gets `records` generated records on new data
// pages, found through a new usage map. The table's indexes are left as they
// were: readers that scan the table (libmdb, mdb-export) do not use them.

#include <string>

namespace tabsync::bench {

// Writes `output` (overwritten) from the Jet 4 file `jet4_template`, which
// must hold testV2000.mdb's Table1. Throws std::runtime_error on failure.
void WriteJetTable(const std::string& jet4_template, const std::string& output, int records);

}  // namespace tabsync::bench

#endif  // TABSYNC_BENCH_JET_TABLE_WRITER_H_
