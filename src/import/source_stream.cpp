#include "import/source_stream.h"

#include <cerrno>
#include <cstring>

#include "import/import_errors.h"
#include "platform/posix_io.h"

namespace tabsync::import {

namespace {

constexpr size_t kFlushAt = 1 << 16;
constexpr size_t kHeaderSize = 5;

void PutInt(std::string* out, int64_t value) {
  uint64_t bits = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>(bits >> (8 * i)));
}

void PutLength(std::string* out, size_t length) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(length >> (8 * i)));
}

void PutText(std::string* out, std::string_view text) {
  PutLength(out, text.size());
  out->append(text);
}

void PutDouble(std::string* out, double value) {
  int64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  PutInt(out, bits);
}

uint32_t LengthAt(std::string_view bytes, size_t at) {
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return length;
}

// Reads the fields of one payload in order.
class FieldReader {
 public:
  explicit FieldReader(std::string_view payload) : rest_(payload) {}

  int64_t Int() {
    Need(8);
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(static_cast<unsigned char>(rest_[i])) << (8 * i);
    rest_.remove_prefix(8);
    return static_cast<int64_t>(bits);
  }
  double Double() {
    int64_t bits = Int();
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  uint8_t Byte() {
    Need(1);
    uint8_t value = static_cast<unsigned char>(rest_[0]);
    rest_.remove_prefix(1);
    return value;
  }
  std::string_view Text() {
    Need(4);
    uint32_t length = LengthAt(rest_, 0);
    rest_.remove_prefix(4);
    Need(length);
    std::string_view text = rest_.substr(0, length);
    rest_.remove_prefix(length);
    return text;
  }
  int Count() {
    int64_t count = Int();
    // Every counted item takes at least one byte of the payload.
    if (count < 0 || static_cast<uint64_t>(count) > rest_.size()) throw DamagedStream();
    return static_cast<int>(count);
  }
  void ExpectEnd() const {
    if (!rest_.empty()) throw DamagedStream();
  }

 private:
  void Need(size_t bytes) const {
    if (rest_.size() < bytes) throw DamagedStream();
  }
  std::string_view rest_;
};

void PutColumn(std::string* out, const SourceColumn& column) {
  PutText(out, column.name);
  for (int64_t number : {column.type, column.size, column.precision, column.scale})
    PutInt(out, number);
  out->push_back(static_cast<char>((column.auto_number ? 1 : 0) | (column.required ? 2 : 0) |
                                   (column.calculated ? 4 : 0)));
  PutText(out, column.expression);
  out->push_back(static_cast<char>(column.complex));
  PutText(out, column.detail);
}

SourceColumn ReadColumn(FieldReader& in) {
  SourceColumn column;
  column.name = in.Text();
  column.type = static_cast<int>(in.Int());
  column.size = static_cast<int>(in.Int());
  column.precision = static_cast<int>(in.Int());
  column.scale = static_cast<int>(in.Int());
  uint8_t bits = in.Byte();
  column.auto_number = bits & 1;
  column.required = bits & 2;
  column.calculated = bits & 4;
  column.expression = in.Text();
  uint8_t complex = in.Byte();
  if (complex > static_cast<uint8_t>(ComplexKind::kUnknown)) throw DamagedStream();
  column.complex = static_cast<ComplexKind>(complex);
  column.detail = in.Text();
  return column;
}

void PutIndex(std::string* out, const SourceIndex& index) {
  PutText(out, index.name);
  out->push_back(static_cast<char>((index.primary ? 1 : 0) | (index.foreign_key ? 2 : 0) |
                                   (index.unique ? 4 : 0)));
  PutInt(out, static_cast<int64_t>(index.columns.size()));
  for (int column : index.columns) PutInt(out, column);
}

SourceIndex ReadIndex(FieldReader& in, size_t column_count) {
  SourceIndex index;
  index.name = in.Text();
  uint8_t bits = in.Byte();
  index.primary = bits & 1;
  index.foreign_key = bits & 2;
  index.unique = bits & 4;
  for (int i = in.Count(); i > 0; --i) {
    int64_t column = in.Int();
    if (column < 0 || static_cast<size_t>(column) >= column_count) throw DamagedStream();
    index.columns.push_back(static_cast<int>(column));
  }
  return index;
}

void PutValue(std::string* out, const SourceValue& value) {
  out->push_back(static_cast<char>(value.kind));
  switch (value.kind) {
    case ValueKind::kInteger:
    case ValueKind::kCurrency: PutInt(out, value.integer); break;
    case ValueKind::kDouble:
    case ValueKind::kDate: PutDouble(out, value.number); break;
    case ValueKind::kText:
    case ValueKind::kBinary:
    case ValueKind::kDecimal:
    case ValueKind::kExtendedDate: PutText(out, value.bytes); break;
    default: break;
  }
}

void ReadValue(FieldReader& in, SourceValue* value) {
  uint8_t kind = in.Byte();
  if (kind > static_cast<uint8_t>(ValueKind::kExtendedDate)) throw DamagedStream();
  value->kind = static_cast<ValueKind>(kind);
  switch (value->kind) {
    case ValueKind::kInteger:
    case ValueKind::kCurrency: value->integer = in.Int(); break;
    case ValueKind::kDouble:
    case ValueKind::kDate: value->number = in.Double(); break;
    case ValueKind::kText:
    case ValueKind::kBinary:
    case ValueKind::kDecimal:
    case ValueKind::kExtendedDate: value->bytes.assign(in.Text()); break;
    default: break;
  }
}

bool KnownTag(char tag) {
  for (FrameTag known : {FrameTag::kObject, FrameTag::kLink, FrameTag::kTable, FrameTag::kRows,
                         FrameTag::kRow, FrameTag::kEnd, FrameTag::kDone, FrameTag::kFailure,
                         FrameTag::kWarning})
    if (tag == static_cast<char>(known)) return true;
  return false;
}

}  // namespace

// ---- StreamWriter ---------------------------------------------------------

void StreamWriter::Put(FrameTag tag, const std::string& payload) {
  buffer_.push_back(static_cast<char>(tag));
  PutLength(&buffer_, payload.size());
  buffer_.append(payload);
  if (buffer_.size() >= kFlushAt) Flush();
}

void StreamWriter::Flush() {
  int error = platform::posix::WriteAll(fd_, buffer_);
  buffer_.clear();
  if (error != 0) throw ReaderFailed(std::string("cannot write to the importer: ") + std::strerror(error));
}

void StreamWriter::Object(const SourceObject& object) {
  std::string payload;
  PutText(&payload, object.kind);
  PutText(&payload, object.name);
  Put(FrameTag::kObject, payload);
}

void StreamWriter::Link(const SourceLink& link) {
  std::string payload;
  PutText(&payload, link.name);
  PutInt(&payload, link.type);
  PutInt(&payload, link.flags);
  PutText(&payload, link.database);
  PutText(&payload, link.connect);
  PutText(&payload, link.foreign_name);
  Put(FrameTag::kLink, payload);
}

void StreamWriter::Table(const SourceTable& table) {
  std::string payload;
  PutText(&payload, table.name);
  PutInt(&payload, table.flags);
  PutInt(&payload, static_cast<int64_t>(table.columns.size()));
  for (const SourceColumn& column : table.columns) PutColumn(&payload, column);
  PutInt(&payload, static_cast<int64_t>(table.indexes.size()));
  for (const SourceIndex& index : table.indexes) PutIndex(&payload, index);
  Put(FrameTag::kTable, payload);
}

void StreamWriter::BeginRows(int table_index) {
  std::string payload;
  PutInt(&payload, table_index);
  Put(FrameTag::kRows, payload);
}

void StreamWriter::Row(const std::vector<SourceValue>& values) {
  payload_.clear();
  PutInt(&payload_, static_cast<int64_t>(values.size()));
  for (const SourceValue& value : values) PutValue(&payload_, value);
  Put(FrameTag::kRow, payload_);
}

void StreamWriter::EndRows() { Put(FrameTag::kEnd, std::string()); }

void StreamWriter::Done() {
  Put(FrameTag::kDone, std::string());
  Flush();
}

void StreamWriter::Failure(const std::string& message) {
  std::string payload;
  PutText(&payload, message);
  Put(FrameTag::kFailure, payload);
  Flush();
}

void StreamWriter::Warning(const std::string& text) {
  std::string payload;
  PutText(&payload, text);
  Put(FrameTag::kWarning, payload);
}

// ---- FrameSplitter --------------------------------------------------------

void FrameSplitter::Feed(std::string_view bytes) {
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  buffer_.append(bytes);
}

bool FrameSplitter::Next(Frame* frame) {
  if (buffer_.size() - start_ < kHeaderSize) return false;
  char tag = buffer_[start_];
  if (!KnownTag(tag)) throw DamagedStream();
  uint32_t length = LengthAt(buffer_, start_ + 1);
  if (buffer_.size() - start_ - kHeaderSize < length) return false;
  frame->tag = static_cast<FrameTag>(tag);
  frame->payload.assign(buffer_, start_ + kHeaderSize, length);
  start_ += kHeaderSize + length;
  // Keeps the buffer from growing with the stream: the consumed front goes
  // once it outweighs what is left.
  if (start_ > (1u << 20) && start_ * 2 > buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  return true;
}

// ---- decoders -------------------------------------------------------------

SourceObject DecodeObject(std::string_view payload) {
  FieldReader in(payload);
  SourceObject object;
  object.kind = in.Text();
  object.name = in.Text();
  in.ExpectEnd();
  return object;
}

SourceLink DecodeLink(std::string_view payload) {
  FieldReader in(payload);
  SourceLink link;
  link.name = in.Text();
  link.type = static_cast<int>(in.Int());
  link.flags = static_cast<uint32_t>(in.Int());
  link.database = in.Text();
  link.connect = in.Text();
  link.foreign_name = in.Text();
  in.ExpectEnd();
  return link;
}

SourceTable DecodeTable(std::string_view payload) {
  FieldReader in(payload);
  SourceTable table;
  table.name = in.Text();
  table.flags = static_cast<uint32_t>(in.Int());
  for (int i = in.Count(); i > 0; --i) table.columns.push_back(ReadColumn(in));
  for (int i = in.Count(); i > 0; --i) table.indexes.push_back(ReadIndex(in, table.columns.size()));
  in.ExpectEnd();
  return table;
}

int DecodeRowsStart(std::string_view payload) {
  FieldReader in(payload);
  int64_t index = in.Int();
  in.ExpectEnd();
  if (index < 0 || index > INT32_MAX) throw DamagedStream();
  return static_cast<int>(index);
}

void DecodeRow(std::string_view payload, std::vector<SourceValue>* values) {
  FieldReader in(payload);
  values->resize(in.Count());
  for (SourceValue& value : *values) ReadValue(in, &value);
  in.ExpectEnd();
}

std::string DecodeFailure(std::string_view payload) {
  FieldReader in(payload);
  std::string message(in.Text());
  in.ExpectEnd();
  return message;
}

}  // namespace tabsync::import
