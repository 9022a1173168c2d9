#ifndef TABSYNC_IMPORT_OUTPUT_FILE_H_
#define TABSYNC_IMPORT_OUTPUT_FILE_H_

// What tabsync-import reads and replaces: the checks of the source and the
// output before anything is opened, and the temporary file the output is
// written to (docs/import.md).

#include <string>

namespace tabsync::import {

// Raises 3024 when `source` is there but is no regular file (also through a
// symbolic link): a FIFO would hang the reader, a device never end. Checked
// without opening it. A missing source is left to the reader's own error.
void CheckSource(const std::string& source);

// Raises when `output` may not be written: 3024 when its folder is missing,
// 3204 when it exists and `force` is false, and 4005 when it exists but is
// no regular file (a device, FIFO, folder, socket, or a symbolic link to
// one or to nothing), or is `source` itself however spelt (the same device
// and inode: another path, a symbolic or a hard link), either of which is
// never replaced.
void CheckOutput(const std::string& source, const std::string& output, bool force);

// The temporary file beside the output, ".NAME.importing-PID", and the
// journal SQLite may keep beside it. While the object lives, a SIGINT,
// SIGTERM or SIGHUP handler that calls RemoveTemporaryOutputInSignal
// removes them. Unless PutInPlace succeeded they are removed when the
// object goes. One object at a time per process.
class TemporaryOutput {
 public:
  // Removes what an earlier process of this id, or a process that has ended
  // since, left as the temporary file of the same output.
  explicit TemporaryOutput(const std::string& output);
  ~TemporaryOutput();
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;

  const std::string& path() const { return path_; }

  // Flushes the complete file to disk and renames it into place: over the
  // output only with `force` (after CheckOutput once more), otherwise by a
  // link that refuses an output that appeared meanwhile (3204). Raises 4005
  // when that fails.
  void PutInPlace(const std::string& source, bool force);

 private:
  void Remove() const;

  std::string output_;
  std::string path_;
};

// Removes the current temporary output of this process, if any, using only
// calls that are safe in a signal handler; does nothing in another process
// (the reader's child, which shares the memory).
void RemoveTemporaryOutputInSignal();

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_OUTPUT_FILE_H_
