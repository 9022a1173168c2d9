#include "import/table_definition.h"

#include "import/import_errors.h"

namespace tabsync::import {

namespace {

constexpr int kKeySlots = 10;  // a physical index holds up to 10 columns
constexpr uint16_t kNoColumn = 0xffff;
constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;
constexpr uint8_t kIndexTypePrimary = 1;
constexpr uint8_t kIndexTypeForeignKey = 2;

// Where things are in a definition of each format (offsets from the start
// of the first page; sizes of the repeated entries).
struct Layout {
  size_t column_count;
  size_t index_count;       // logical indexes
  size_t real_index_count;  // physical index definitions
  size_t first_entry;       // the physical index counts, then the columns
  size_t real_count_entry;
  size_t column_entry;
  size_t column_number, column_flags, column_size, column_complex_id;
  int column_extra_flags;   // -1: none in this format
  size_t name_length_size;
  size_t real_index_lead, real_index_before_flags, real_index_after_flags;
  size_t logical_lead, logical_tail;
};

constexpr Layout kJet3{25, 27, 31, 43, 8, 18, 1, 13, 16, 0, -1, 1, 0, 0, 0, 0, 0};
constexpr Layout kJet4{45, 47, 51, 63, 12, 25, 5, 15, 23, 11, 16, 2, 4, 4, 5, 4, 4};

// Reads little-endian fields in order; any read past the end raises.
class Cursor {
 public:
  Cursor(std::string_view bytes, const std::string& table) : bytes_(bytes), table_(table) {}

  void Seek(size_t at) {
    if (at > bytes_.size()) throw Damaged();
    at_ = at;
  }
  void Skip(size_t count) { Seek(Need(count) + count); }
  uint32_t Number(size_t size) {
    size_t at = Need(size);
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i)
      value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes_[at + i])) << (8 * i);
    at_ += size;
    return value;
  }
  uint32_t NumberAt(size_t at, size_t size) {
    Seek(at);
    return Number(size);
  }
  const unsigned char* Bytes(size_t count) {
    size_t at = Need(count);
    at_ += count;
    return reinterpret_cast<const unsigned char*>(bytes_.data() + at);
  }
  size_t at() const { return at_; }
  Error Damaged() const { return ReaderFailed("the definition of table '" + table_ + "' is damaged"); }

 private:
  size_t Need(size_t count) const {
    if (count > bytes_.size() - at_) throw Damaged();
    return at_;
  }

  std::string_view bytes_;
  const std::string& table_;
  size_t at_ = 0;
};

std::string ReadName(Cursor& in, const Layout& layout, JetTextDecoder& text) {
  size_t length = in.Number(layout.name_length_size);
  std::string name;
  if (!text.Decode(in.Bytes(length), length, &name)) throw in.Damaged();
  return name;
}

TableColumnDefinition ReadColumn(Cursor& in, const Layout& layout) {
  size_t start = in.at();
  const unsigned char* entry = in.Bytes(layout.column_entry);
  auto field = [&](size_t offset, size_t size) { return in.NumberAt(start + offset, size); };
  TableColumnDefinition column;
  column.type = entry[0];
  column.number = static_cast<int>(field(layout.column_number, 2));
  column.flags = entry[layout.column_flags];
  if (layout.column_extra_flags >= 0) column.extra_flags = entry[layout.column_extra_flags];
  column.size = static_cast<int>(field(layout.column_size, 2));
  if (layout.column_complex_id) column.complex_id = field(layout.column_complex_id, 4);
  in.Seek(start + layout.column_entry);
  return column;
}

struct RealIndex {
  std::vector<int> column_numbers;
  uint8_t flags = 0;
};

RealIndex ReadRealIndex(Cursor& in, const Layout& layout) {
  RealIndex index;
  in.Skip(layout.real_index_lead);
  for (int slot = 0; slot < kKeySlots; ++slot) {
    uint32_t number = in.Number(2);
    in.Skip(1);  // the order: a descending column is written ascending
    if (number != kNoColumn) index.column_numbers.push_back(static_cast<int>(number));
  }
  in.Skip(8 + layout.real_index_before_flags);  // its usage map and first page
  index.flags = static_cast<uint8_t>(in.Number(1));
  in.Skip(layout.real_index_after_flags);
  return index;
}

// A logical index: its name comes later; the entry names the physical
// definition that holds its columns and flags.
TableIndexDefinition ReadLogicalIndex(Cursor& in, const Layout& layout, const std::vector<RealIndex>& reals) {
  in.Skip(layout.logical_lead + 4);  // then its own number, which no other entry uses
  uint32_t real = in.Number(4);
  in.Skip(1 + 4 + 4 + 1 + 1);  // the relationship: other table's type, index, page; cascades
  uint8_t type = static_cast<uint8_t>(in.Number(1));
  in.Skip(layout.logical_tail);
  if (real >= reals.size()) throw in.Damaged();
  TableIndexDefinition index;
  index.primary = type == kIndexTypePrimary;
  index.foreign_key = type == kIndexTypeForeignKey;
  index.unique = reals[real].flags & kIndexUnique;
  index.ignore_nulls = reals[real].flags & kIndexIgnoreNulls;
  index.column_numbers = reals[real].column_numbers;
  return index;
}

void CheckKeyColumns(const TableDefinition& definition, const Cursor& in) {
  for (const TableIndexDefinition& index : definition.indexes)
    for (int number : index.column_numbers) {
      bool found = false;
      for (const TableColumnDefinition& column : definition.columns) found = found || column.number == number;
      if (!found) throw in.Damaged();
    }
}

}  // namespace

TableDefinition ParseTableDefinition(std::string_view bytes, bool jet3, JetTextDecoder& text,
                                     const std::string& table) {
  const Layout& layout = jet3 ? kJet3 : kJet4;
  Cursor in(bytes, table);
  uint32_t column_count = in.NumberAt(layout.column_count, 2);
  uint32_t index_count = in.NumberAt(layout.index_count, 4);
  uint32_t real_count = in.NumberAt(layout.real_index_count, 4);
  // Every entry takes bytes of the definition: counts beyond them are damage.
  if (index_count > bytes.size() || real_count > bytes.size()) throw in.Damaged();
  in.Seek(layout.first_entry);
  in.Skip(static_cast<size_t>(real_count) * layout.real_count_entry);
  TableDefinition definition;
  for (uint32_t i = 0; i < column_count; ++i) definition.columns.push_back(ReadColumn(in, layout));
  for (TableColumnDefinition& column : definition.columns) column.name = ReadName(in, layout, text);
  std::vector<RealIndex> reals;
  for (uint32_t i = 0; i < real_count; ++i) reals.push_back(ReadRealIndex(in, layout));
  for (uint32_t i = 0; i < index_count; ++i) definition.indexes.push_back(ReadLogicalIndex(in, layout, reals));
  for (TableIndexDefinition& index : definition.indexes) index.name = ReadName(in, layout, text);
  CheckKeyColumns(definition, in);
  return definition;
}

}  // namespace tabsync::import
