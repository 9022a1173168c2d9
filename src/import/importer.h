#ifndef TABSYNC_IMPORT_IMPORTER_H_
#define TABSYNC_IMPORT_IMPORTER_H_

// tabsync-import's work: one Jet or ACE file, or a folder of them, converted
// into the project's database format (docs/import.md).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "import/catalogue_rows.h"
#include "import/guarded_reader.h"
#include "import/source_stream.h"

namespace tabsync::import {

struct ImportOptions {
  bool force = false;             // replace an existing output file
  bool skip_unsupported = false;  // leave refused columns out, with a warning each
  std::vector<PathMapping> path_maps;
  // The database password of a file protected by one (checked against its
  // header; never shown).
  std::optional<std::string> password;
  // The reader's limits; by default LimitsForFile of the source's size.
  std::optional<ReaderLimits> limits;
  // The reader run in the child process; by default ReadMdbFile. Tests give
  // readers that crash, hang or flood.
  std::function<void(const std::string& path, StreamWriter& out)> reader;
};

// Where the importer's lines go. Notes and warnings are told once the file is
// converted (a failed file tells its error alone); progress comes as records
// are written.
class ImportReport {
 public:
  virtual ~ImportReport() = default;
  // "table 'T': 12 records", "skipped query 'Q'", "link 'L' to '...'"...
  virtual void Note(const std::string& line) = 0;
  // A column left out, a link path no --path-map matched, libmdb's complaints.
  virtual void Warning(const std::string& line) = 0;
  virtual void Progress(const std::string& table, int64_t records) = 0;
};

struct ImportSummary {
  int tables = 0;
  int64_t records = 0;
  int links = 0;
  int warnings = 0;  // the warnings told
};

// Converts `source` into a new file `output`, written as a temporary file
// beside it (TemporaryOutput) and renamed into place when complete. Raises
// 3024 (source missing, or no regular file: CheckSource), 3343 (no Jet or
// ACE file), 4002 (encryption, or a password not given or wrong), 3204
// (output exists, without force), 4001 (what the format cannot hold,
// naming tables and columns; every refused column of the schema in one
// error), 4003/4004 (the reader failed), 4005 (an output that is no regular file or is the source:
// CheckOutput; the rename failed) and the engine's errors. On any error no
// output file is left (an existing one untouched).
ImportSummary ImportFile(const std::string& source, const std::string& output,
                         const ImportOptions& options, ImportReport& report);

// The files of a folder to convert: names ending in ".mdb" or ".accdb" (any
// letter case), sorted.
std::vector<std::string> DatabaseFilesIn(const std::string& folder);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_IMPORTER_H_
