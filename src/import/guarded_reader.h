#ifndef TABSYNC_IMPORT_GUARDED_READER_H_
#define TABSYNC_IMPORT_GUARDED_READER_H_

// Runs a reader in a child process, so that a file that makes libmdb crash,
// loop or flood cannot take the importer with it: the parent gives the child
// a wall-clock limit and a limit on the bytes it may send, and turns every
// way the child can end into a clear error.

#include <cstdint>
#include <functional>
#include <string>

#include "import/source_stream.h"

namespace tabsync::import {

struct ReaderLimits {
  int64_t time_limit_ms = 0;
  uint64_t output_limit = 0;  // bytes of the stream
};

// The limits for a source file of `file_size` bytes: 60 s plus 2 s per MiB,
// and 64 MiB plus 32 bytes per byte of the file.
ReaderLimits LimitsForFile(uint64_t file_size);

// Forks; the child runs `read` with a StreamWriter on a pipe (its standard
// output goes to /dev/null and its standard error, where libmdb prints its
// complaints, to the parent). The parent hands each frame to `on_frame` in
// order until the Done frame.
//
// Raises 4003 (ReaderFailed) when the child runs past the time limit, sends
// more than the output limit, dies of a signal, ends without Done, or sends a
// Failure frame (its message); 4004 for a stream that does not decode. An
// error raised by `on_frame` passes on. In every case the child is gone when
// this returns. Returns what the child wrote on its standard error (at most
// 8 KiB).
std::string RunGuarded(const std::function<void(StreamWriter&)>& read, const ReaderLimits& limits,
                        const std::function<void(const Frame&)>& on_frame);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_GUARDED_READER_H_
