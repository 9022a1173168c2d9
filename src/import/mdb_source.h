#ifndef TABSYNC_IMPORT_MDB_SOURCE_H_
#define TABSYNC_IMPORT_MDB_SOURCE_H_

// The reader: opens a Jet or ACE file with libmdb and writes what it holds as
// the stream of source_stream.h. It runs in the child process of
// guarded_reader.h, since libmdb trusts the file's bytes.

#include <string>

#include "import/source_stream.h"

namespace tabsync::import {

// Reads the file at `path` (whose header was checked) and writes its
// objects, links, user tables and records to `out`, ending with Done.
// Raises tabsync::Error (4003) when libmdb cannot open the file, read its
// catalogue or a table, or when a record or long value is damaged.
void ReadMdbFile(const std::string& path, StreamWriter& out);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_MDB_SOURCE_H_
