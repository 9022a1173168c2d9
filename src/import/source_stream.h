#ifndef TABSYNC_IMPORT_SOURCE_STREAM_H_
#define TABSYNC_IMPORT_SOURCE_STREAM_H_

// The framed encoding in which the reader (a child process) hands what it
// reads to the writer (the parent) over a pipe. A frame is a tag byte, a
// 32-bit little-endian payload length and the payload; numbers in a payload
// are 64-bit little-endian, texts a 32-bit length and the bytes.
//
// The stream of one file: Object and Link frames, one Table frame per user
// table (all schemas before any record), then per table a Rows frame, its Row
// frames and an End frame, and last Done. Warning frames may come anywhere
// before Done. Failure replaces the rest when the reader gives up.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/source_model.h"

namespace tabsync::import {

enum class FrameTag : char {
  kObject = 'O',
  kLink = 'L',
  kTable = 'T',
  kRows = 'B',
  kRow = 'R',
  kEnd = 'E',
  kDone = 'Z',
  kFailure = 'X',
  kWarning = 'W',
};

struct Frame {
  FrameTag tag = FrameTag::kDone;
  std::string payload;
};

// Writes frames to a file descriptor through a buffer. Raises
// ReaderFailed when a write fails (the parent went away).
class StreamWriter {
 public:
  explicit StreamWriter(int fd) : fd_(fd) {}
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  void Object(const SourceObject& object);
  void Link(const SourceLink& link);
  void Table(const SourceTable& table);
  void BeginRows(int table_index);
  void Row(const std::vector<SourceValue>& values);
  void EndRows();
  void Done();
  void Failure(const std::string& message);
  // Something the reader left out or changed, for the importer's warnings.
  void Warning(const std::string& text);
  // Writes out what is buffered.
  void Flush();

 private:
  void Put(FrameTag tag, const std::string& payload);

  int fd_;
  std::string buffer_;
  std::string payload_;  // reused for each row
};

// Cuts a byte stream into frames. Raises DamagedStream for an unknown tag.
class FrameSplitter {
 public:
  void Feed(std::string_view bytes);
  // The next complete frame, if there is one.
  bool Next(Frame* frame);
  // True when bytes of an incomplete frame are waiting.
  bool Pending() const { return start_ < buffer_.size(); }

 private:
  std::string buffer_;
  size_t start_ = 0;
};

// The payload decoders; each raises DamagedStream for a malformed payload.
SourceObject DecodeObject(std::string_view payload);
SourceLink DecodeLink(std::string_view payload);
SourceTable DecodeTable(std::string_view payload);
int DecodeRowsStart(std::string_view payload);
// Fills *values (resized to the row's count), reusing its strings.
void DecodeRow(std::string_view payload, std::vector<SourceValue>* values);
// A Failure or a Warning frame's text.
std::string DecodeFailure(std::string_view payload);

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_SOURCE_STREAM_H_
