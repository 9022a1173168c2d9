#include "jet-writer/jet_writer.h"

#include <mdbtools.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tabsync::jet_writer {

namespace {

constexpr int kPageSize = 4096;
constexpr int kRowCountOffset = 12;  // Jet 4 data pages
constexpr int kMaxRowsPerPage = 255;  // a row pointer keeps the row number in one byte
constexpr int kBitsPerMapPage = (kPageSize - 4) * 8;

using Page = std::vector<unsigned char>;

void Put16(unsigned char* at, unsigned value) {
  at[0] = value & 0xff;
  at[1] = (value >> 8) & 0xff;
}

void Put32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = (value >> (8 * i)) & 0xff;
}

unsigned Get16(const unsigned char* at) { return at[0] | (at[1] << 8); }

struct ColumnLayout {
  int type;
  int number;  // bit in the null mask
  bool fixed;
  int fixed_offset;
  int size;
  int var_number;
  int precision;  // of a Decimal
};

// What the writer needs to know of the table, read with libmdb.
struct TableLayout {
  uint32_t definition_page = 0;
  uint32_t map_pointer = 0;  // page << 8 | row of the usage map
  std::vector<uint32_t> data_pages;
  std::vector<ColumnLayout> columns;
  int fixed_size = 0;
  int var_count = 0;
};

struct HandleCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
using Handle = std::unique_ptr<MdbHandle, HandleCloser>;

Handle Open(const std::string& path) {
  Handle mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb) throw std::runtime_error("cannot open " + path);
  mdb_read_catalog(mdb.get(), MDB_TABLE);
  return mdb;
}

MdbTableDef* OpenTable(MdbHandle* mdb, const std::string& name) {
  MdbCatalogEntry* entry = mdb_get_catalogentry_by_name(mdb, name.c_str());
  MdbTableDef* table = entry ? mdb_read_table(entry) : nullptr;
  if (!table || !mdb_read_columns(table)) throw std::runtime_error("no table " + name);
  return table;
}

TableLayout ReadLayout(const std::string& path, const std::string& table_name) {
  Handle handle = Open(path);
  MdbHandle* mdb = handle.get();
  MdbTableDef* table = OpenTable(mdb, table_name);
  MdbCatalogEntry* entry = table->entry;
  TableLayout layout;
  layout.definition_page = entry->table_pg;
  for (unsigned i = 0; i < table->num_cols; ++i) {
    auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    ColumnLayout out{column->col_type, column->col_num, column->is_fixed != 0, column->fixed_offset,
                     column->col_type == MDB_BOOL ? 0 : column->col_size, static_cast<int>(column->var_col_num),
                     column->col_scale};  // libmdb keeps a Decimal's precision in col_scale
    if (out.fixed) layout.fixed_size = std::max(layout.fixed_size, out.fixed_offset + out.size);
    else ++layout.var_count;
    layout.columns.push_back(out);
  }
  mdb_rewind_table(table);
  while (mdb_read_next_dpg(table)) layout.data_pages.push_back(table->cur_phys_pg);
  mdb_read_pg(mdb, layout.definition_page);
  layout.map_pointer = static_cast<uint32_t>(mdb_get_int32(mdb->pg_buf, mdb->fmt->tab_usage_map_offset));
  mdb_free_tabledef(table);
  return layout;
}

void PutText(std::vector<unsigned char>* row, const std::string& ascii) {
  for (char c : ascii) {
    row->push_back(static_cast<unsigned char>(c));
    row->push_back(0);  // UCS-2, uncompressed
  }
}

// A Decimal of at most `precision` digits (18 at most, so that it fits in
// 64 bits) spread over the whole range, a third of them below zero, as
// Jet 4 stores it: a sign byte (0x80 below zero), then the unsigned number
// in four 32-bit little-endian words, the most significant first.
void PutDecimal(unsigned char* at, int n, int column, int precision) {
  uint64_t limit = 1;
  for (int i = 0; i < std::min(precision, 18); ++i) limit *= 10;
  uint64_t magnitude = (static_cast<uint64_t>(n) * 7 + column) * 0x9E3779B97F4A7C15u % limit;
  at[0] = (n + column) % 3 == 0 ? 0x80 : 0;
  std::memset(at + 1, 0, 8);
  Put32(at + 9, static_cast<uint32_t>(magnitude >> 32));
  Put32(at + 13, static_cast<uint32_t>(magnitude));
}

// A Memo value kept in the record ("inline"): its length with the flag
// 0x80000000, 8 unused bytes, the text as UCS-2; of 60 to 171 characters.
void PutInlineMemo(std::vector<unsigned char>* row, int n) {
  std::string text = "memo of generated record " + std::to_string(n) + ":";
  while (text.size() < 60 + static_cast<size_t>(n % 100)) text += " lorem ipsum";
  std::vector<unsigned char> header(MDB_MEMO_OVERHEAD, 0);
  Put32(header.data(), 0x80000000u | static_cast<uint32_t>(2 * text.size()));
  row->insert(row->end(), header.begin(), header.end());
  PutText(row, text);
}

// One record as Jet 4 stores it (libmdb's mdb_pack_row4 writes the same):
// column count, fixed columns at their offsets, variable columns, the end
// offset, the variable columns' offsets last to first, their count, and the
// null mask, where a set bit means "not null" (for a Boolean: True).
std::vector<unsigned char> Record(const TableLayout& layout, int n) {
  std::vector<unsigned char> row(2 + layout.fixed_size, 0);
  Put16(row.data(), static_cast<unsigned>(layout.columns.size()));
  std::vector<unsigned char> mask((layout.columns.size() + 7) / 8, 0);
  std::vector<unsigned> var_offsets(layout.var_count);
  for (const ColumnLayout& column : layout.columns) {
    bool value_bit = true;
    unsigned char* at = row.data() + 2 + column.fixed_offset;
    switch (column.type) {
      case MDB_BYTE: *at = n % 256; break;
      case MDB_INT: Put16(at, static_cast<uint16_t>(n % 30000 - 15000)); break;
      case MDB_LONGINT: Put32(at, static_cast<uint32_t>(n * 7)); break;
      case MDB_DOUBLE: {
        double value = n * 0.25 + 0.125;
        std::memcpy(at, &value, 8);
        break;
      }
      case MDB_DATETIME: {
        double value = 36526 + n % 20000 + (n % 86400) / 86400.0;
        std::memcpy(at, &value, 8);
        break;
      }
      case MDB_MONEY: {
        int64_t value = static_cast<int64_t>(n) * 12345 - 50000000;
        std::memcpy(at, &value, 8);
        break;
      }
      case MDB_BOOL: value_bit = n % 2 == 0; break;
      case MDB_NUMERIC: PutDecimal(at, n, column.number, column.precision); break;
      case MDB_MEMO:
        var_offsets[column.var_number] = static_cast<unsigned>(row.size());
        PutInlineMemo(&row, n);
        break;
      case MDB_TEXT:
        var_offsets[column.var_number] = static_cast<unsigned>(row.size());
        PutText(&row, column.var_number == 0 ? "K" + std::to_string(1000000 + n)
                                             : "generated record " + std::to_string(n));
        break;
      default: throw std::runtime_error("column type the writer cannot generate");
    }
    if (value_bit) mask[column.number / 8] |= 1 << (column.number % 8);
  }
  size_t end = row.size();
  row.resize(end + 2 + 2 * layout.var_count + 2);
  unsigned char* tail = row.data() + end;
  Put16(tail, static_cast<unsigned>(end));
  for (int i = layout.var_count - 1, k = 0; i >= 0; --i, ++k) Put16(tail + 2 + 2 * k, var_offsets[i]);
  Put16(tail + 2 + 2 * layout.var_count, layout.var_count);
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

Page NewDataPage(uint32_t definition_page) {
  Page page(kPageSize, 0);
  page[0] = 0x01;
  page[1] = 0x01;
  Put32(&page[4], definition_page);
  return page;
}

// Adds the record if it fits: its offset into the table at 14, its bytes
// from the end of the page downwards.
bool AddRecord(Page* page, const std::vector<unsigned char>& record) {
  unsigned rows = Get16(&(*page)[kRowCountOffset]);
  unsigned end = rows == 0 ? kPageSize : Get16(&(*page)[kRowCountOffset + 2 * rows]);
  unsigned table_end = kRowCountOffset + 2 + 2 * (rows + 1);
  if (rows == kMaxRowsPerPage || end < record.size() + table_end) return false;
  unsigned start = end - static_cast<unsigned>(record.size());
  std::memcpy(&(*page)[start], record.data(), record.size());
  Put16(&(*page)[kRowCountOffset + 2 + 2 * rows], start);
  Put16(&(*page)[kRowCountOffset], rows + 1);
  Put16(&(*page)[2], start - table_end);
  return true;
}

class PageFile {
 public:
  explicit PageFile(const std::string& path) : file_(path, std::ios::in | std::ios::out | std::ios::binary) {
    if (!file_) throw std::runtime_error("cannot write " + path);
    file_.seekg(0, std::ios::end);
    pages_ = static_cast<uint32_t>(file_.tellg() / kPageSize);
  }
  Page Read(uint32_t number) {
    Page page(kPageSize);
    file_.seekg(static_cast<std::streamoff>(number) * kPageSize);
    file_.read(reinterpret_cast<char*>(page.data()), kPageSize);
    return page;
  }
  void Write(uint32_t number, const Page& page) {
    file_.seekp(static_cast<std::streamoff>(number) * kPageSize);
    file_.write(reinterpret_cast<const char*>(page.data()), kPageSize);
    if (!file_) throw std::runtime_error("write failed");
  }
  uint32_t Append(const Page& page) {
    Write(pages_, page);
    return pages_++;
  }

 private:
  std::fstream file_;
  uint32_t pages_;
};

// The usage map as a "reference" map (type 1): its row names one bitmap page
// in which a set bit marks a page of the table.
void WriteUsageMap(PageFile& file, const TableLayout& layout, const std::vector<uint32_t>& pages) {
  Page bitmap(kPageSize, 0);
  bitmap[0] = 0x05;
  bitmap[1] = 0x01;
  for (uint32_t page : pages) {
    if (page >= kBitsPerMapPage) throw std::runtime_error("table too large for one map page");
    bitmap[4 + page / 8] |= 1 << (page % 8);
  }
  uint32_t bitmap_page = file.Append(bitmap);
  uint32_t map_page = layout.map_pointer >> 8, map_row = layout.map_pointer & 0xff;
  Page page = file.Read(map_page);
  unsigned start = Get16(&page[kRowCountOffset + 2 + 2 * map_row]) & 0x1fff;
  unsigned end = map_row == 0 ? kPageSize : Get16(&page[kRowCountOffset + 2 * map_row]) & 0x1fff;
  if (end - start < 5) throw std::runtime_error("usage map row too short");
  std::memset(&page[start], 0, end - start);
  page[start] = 0x01;
  Put32(&page[start + 1], bitmap_page);
  file.Write(map_page, page);
}

// Where the first record of a table keeps a column's value: its page and the
// value's offset there.
struct ValuePlace {
  uint32_t page = 0;
  int offset = 0;
  int size = 0;
};

ValuePlace FirstValueOf(const std::string& path, const std::string& table_name, const std::string& column) {
  Handle handle = Open(path);
  MdbHandle* mdb = handle.get();
  MdbTableDef* table = OpenTable(mdb, table_name);
  mdb_rewind_table(table);
  if (!mdb_fetch_row(table)) throw std::runtime_error(table_name + " has no record");
  int start = 0;
  size_t length = 0;
  mdb_find_row(mdb, static_cast<int>(table->cur_row) - 1, &start, &length);
  std::vector<MdbField> fields(table->num_cols);
  mdb_crack_row(table, start & 0x1fff, length, fields.data());
  ValuePlace place;
  place.page = table->cur_phys_pg;
  for (const MdbField& field : fields) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, field.colnum));
    if (column == col->name) place = {table->cur_phys_pg, field.start, field.siz};
  }
  mdb_free_tabledef(table);
  if (place.size < MDB_MEMO_OVERHEAD) throw std::runtime_error("no Memo value in " + column);
  return place;
}

// A long-value page: "LVAL" where a data page names its table, and rows of a
// next-part pointer (page << 8 | row, 0 at the end) and a part of the value.
Page LongValuePage(const std::string& part, uint32_t next) {
  Page page(kPageSize, 0);
  page[0] = 0x01;
  page[1] = 0x01;
  std::memcpy(&page[4], "LVAL", 4);
  std::vector<unsigned char> row(4 + part.size());
  Put32(row.data(), next);
  std::memcpy(row.data() + 4, part.data(), part.size());
  if (!AddRecord(&page, row)) throw std::runtime_error("value part larger than a page");
  return page;
}

// The copy is made writable: the test files are kept read-only.
void CopyTemplate(const std::string& jet4_template, const std::string& output) {
  std::filesystem::copy_file(jet4_template, output, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(output, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
}

}  // namespace

void WriteLongMemo(const std::string& jet4_template, const std::string& output, const std::string& table,
                   const std::string& column, const std::string& text) {
  constexpr size_t kPartSize = 4000;
  CopyTemplate(jet4_template, output);
  ValuePlace place = FirstValueOf(output, table, column);
  std::vector<unsigned char> ucs2;
  PutText(&ucs2, text);
  std::string bytes(ucs2.begin(), ucs2.end());
  PageFile file(output);
  // Written last part first, so that each page can name the next.
  uint32_t next = 0;
  for (size_t end = bytes.size(); end > 0;) {
    size_t start = end > kPartSize ? end - kPartSize : 0;
    next = file.Append(LongValuePage(bytes.substr(start, end - start), next)) << 8;
    end = start;
  }
  // The record's reference: the length with no flag bits (a chain of
  // pages), then the first part's page and row.
  Page page = file.Read(place.page);
  Put32(&page[place.offset], static_cast<uint32_t>(bytes.size()));
  Put32(&page[place.offset + 4], next);
  Put32(&page[place.offset + 8], 0);
  file.Write(place.page, page);
}

void WriteJetTable(const std::string& jet4_template, const std::string& output, const std::string& table,
                   int records) {
  CopyTemplate(jet4_template, output);
  TableLayout layout = ReadLayout(output, table);
  PageFile file(output);
  std::vector<uint32_t> pages = layout.data_pages;
  Page page = NewDataPage(layout.definition_page);
  for (int n = 0; n < records; ++n) {
    std::vector<unsigned char> record = Record(layout, n);
    if (AddRecord(&page, record)) continue;
    pages.push_back(file.Append(page));
    page = NewDataPage(layout.definition_page);
    if (!AddRecord(&page, record)) throw std::runtime_error("record larger than a page");
  }
  if (Get16(&page[kRowCountOffset]) > 0) pages.push_back(file.Append(page));
  WriteUsageMap(file, layout, pages);
}

}  // namespace tabsync::jet_writer
