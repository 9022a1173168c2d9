#include "import/mdb_source.h"

#include <mdbtools.h>

#include <cstring>
#include <memory>
#include <vector>

#include "import/import_errors.h"

namespace tabsync::import {

namespace {

// libmdb's own bind buffers hold MDB_BIND_SIZE (16 KiB) and cut Memo and OLE
// values silently. Long values are read here chunk by chunk
// (mdb_ole_read/mdb_ole_read_next) through a buffer of this size, which the
// library treats as the column's bind buffer.
constexpr size_t kBindSize = 1 << 20;
// A long value larger than this is taken for a damaged file: Jet caps a
// value at 1 GB, and real Memo values are far smaller.
constexpr size_t kMaxLongValue = 256u << 20;
constexpr unsigned kRowOffsetMask = 0x1fff;
constexpr unsigned kPointerOrDeleted = 0x4000;
constexpr unsigned kLongValueLengthMask = 0x3fffffff;

// A row of MSysObjects holds what a link needs and more: the same fields.
using CatalogRow = SourceLink;

struct HandleCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
  void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
using TablePtr = std::unique_ptr<MdbTableDef, TableFreer>;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Jet's and ACE's own tables: the catalogue, the storage of complex columns
// ("f_" + 32 hex digits + "_...") and temporary objects. They carry the
// system flag; a user table with that flag is converted.
bool IsEngineTable(const CatalogRow& row) {
  if ((row.flags & jet::kFlagSystemMask) == 0) return false;
  if (StartsWith(row.name, "MSys") || StartsWith(row.name, "~")) return true;
  return StartsWith(row.name, "f_") && row.name.size() > 34 && row.name[34] == '_';
}

const char* SkippedKind(const CatalogRow& row) {
  switch (row.type) {
    case 5: return "query";
    case 8: return StartsWith(row.name, "MSys") ? nullptr : "relationship";
    case -32768: return "form";
    case -32766: return "macro";
    case -32764: return "report";
    case -32761: return "module";
    default: return nullptr;
  }
}

// Reads the records of one table: libmdb's walk over the table's data pages
// (mdb_read_next_dpg), its row offsets and mdb_crack_row, which is the only
// call that tells a Null from an empty text. mdb_fetch_row would do the
// walk too, but it passes over a record it cannot read without a word.
class RowReader {
 public:
  RowReader(MdbHandle* mdb, MdbTableDef* table)
      : mdb_(mdb), table_(table), fields_(table->num_cols), chunk_(kBindSize) {
    mdb_rewind_table(table_);
  }

  bool Next(std::vector<SourceValue>* values) {
    int start = 0;
    size_t length = 0;
    do {
      if (!NextSlot()) return false;
      if (mdb_find_row(mdb_, slot_, &start, &length) != 0) throw Damaged("a record");
      // As libmdb reads a table: a slot flagged 0x4000 holds a deleted record
      // or the pointer left where a record moved (which is read where it
      // now lies); an empty slot holds nothing.
    } while ((start & kPointerOrDeleted) || length == 0);
    int count = mdb_crack_row(table_, start & kRowOffsetMask, length, fields_.data());
    // A record may have fewer columns than the table (columns added later
    // are Null in it), but not none.
    if (count <= 0) throw Damaged("a record");
    values->resize(table_->num_cols);
    for (unsigned i = 0; i < table_->num_cols; ++i) {
      const MdbField& field = fields_[i];
      if (field.colnum < 0 || static_cast<unsigned>(field.colnum) >= table_->num_cols)
        throw Damaged("a record");
      auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, field.colnum));
      Decode(column, field, &(*values)[field.colnum]);
    }
    return true;
  }

 private:
  // Moves to the next row slot of the table, reading its next data page
  // when the current one is done.
  bool NextSlot() {
    ++slot_;
    while (!page_ || slot_ >= mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset)) {
      page_ = mdb_read_next_dpg(table_) != 0;
      if (!page_) return false;
      slot_ = 0;
    }
    return true;
  }

  Error Damaged(const std::string& what) const {
    return ReaderFailed(what + " of table '" + std::string(table_->name) + "' is damaged");
  }

  const unsigned char* At(const MdbField& field, int bytes) const {
    if (field.start < 0 || field.siz < bytes || field.start + bytes > mdb_->fmt->pg_size)
      throw Damaged("a record");
    return mdb_->pg_buf + field.start;
  }

  template <typename T>
  T Fixed(const MdbField& field) const {
    T value;
    std::memcpy(&value, At(field, sizeof value), sizeof value);
    return value;
  }

  void Decode(MdbColumn* column, const MdbField& field, SourceValue* value) {
    value->kind = ValueKind::kNull;
    if (column->col_type == MDB_BOOL) {
      // Jet keeps a Boolean in the record's null mask: a set bit is True.
      SetInteger(value, field.is_null ? 0 : 1);
      return;
    }
    if (field.is_null) return;
    switch (column->col_type) {
      case MDB_BYTE: SetInteger(value, *At(field, 1)); break;
      case MDB_INT: SetInteger(value, Fixed<int16_t>(field)); break;
      case MDB_LONGINT: SetInteger(value, Fixed<int32_t>(field)); break;
      case MDB_MONEY:
        value->kind = ValueKind::kCurrency;
        value->integer = Fixed<int64_t>(field);
        break;
      case MDB_FLOAT: SetDouble(value, ValueKind::kDouble, Fixed<float>(field)); break;
      case MDB_DOUBLE: SetDouble(value, ValueKind::kDouble, Fixed<double>(field)); break;
      case MDB_DATETIME: SetDouble(value, ValueKind::kDate, Fixed<double>(field)); break;
      case MDB_TEXT: SetText(value, At(field, field.siz), field.siz); break;
      case MDB_MEMO: SetText(value, ReadLongValue(column, field)); break;
      case MDB_OLE: SetBytes(value, ValueKind::kBinary, ReadLongValue(column, field)); break;
      case MDB_BINARY: SetBytes(value, ValueKind::kBinary, std::string(reinterpret_cast<const char*>(At(field, field.siz)), field.siz)); break;
      case MDB_REPID: SetGuid(value, At(field, 16)); break;
      case MDB_NUMERIC: SetDecimal(column, field, value); break;
      default: break;  // types the writer refuses: their values are not read
    }
  }

  static void SetInteger(SourceValue* value, int64_t number) {
    value->kind = ValueKind::kInteger;
    value->integer = number;
  }
  static void SetDouble(SourceValue* value, ValueKind kind, double number) {
    value->kind = kind;
    value->number = number;
  }
  static void SetBytes(SourceValue* value, ValueKind kind, std::string bytes) {
    value->kind = kind;
    value->bytes = std::move(bytes);
  }

  void SetGuid(SourceValue* value, const unsigned char* bytes) {
    char* text = mdb_uuid_to_string(bytes, 0);
    SetBytes(value, ValueKind::kText, text);
    g_free(text);
  }

  void SetDecimal(MdbColumn* column, const MdbField& field, SourceValue* value) {
    At(field, 17);
    // libmdb keeps the precision in col_scale and the scale in col_prec, and
    // passes them to its own call in this order (as mdb-export does).
    char* text = mdb_numeric_to_string(mdb_, field.start, column->col_scale, column->col_prec);
    SetBytes(value, ValueKind::kDecimal, text);
    g_free(text);
  }

  void SetText(SourceValue* value, const std::string& raw) {
    SetText(value, reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
  }

  // libmdb converts with iconv and writes "?" for what it cannot convert;
  // more "?" in the result than in the stored text means such a loss.
  void SetText(SourceValue* value, const unsigned char* raw, size_t length) {
    std::string text(3 * length + 16, '\0');
    int written = mdb_unicode2ascii(mdb_, reinterpret_cast<const char*>(raw), length, text.data(), text.size());
    text.resize(written < 0 ? 0 : static_cast<size_t>(written));
    size_t marks = 0;
    for (char c : text) marks += c == '?';
    if (marks > QuestionMarksIn(raw, length)) {
      value->kind = ValueKind::kUndecodable;
      return;
    }
    SetBytes(value, ValueKind::kText, std::move(text));
  }

  size_t QuestionMarksIn(const unsigned char* raw, size_t length) const {
    size_t count = 0;
    if (mdb_->f->jet_version == MDB_VER_JET3) {
      for (size_t i = 0; i < length; ++i) count += raw[i] == '?';
      return count;
    }
    // Jet 4 and ACE: UCS-2, or "compressed" (FF FE, then runs of one-byte
    // characters and of UCS-2 characters, each run ended by a 00 byte).
    bool compressed = length >= 2 && raw[0] == 0xff && raw[1] == 0xfe;
    bool one_byte = compressed;
    for (size_t i = compressed ? 2 : 0; i < length;) {
      if (compressed && raw[i] == 0) {
        one_byte = !one_byte;
        ++i;
      } else if (one_byte) {
        count += raw[i++] == '?';
      } else {
        count += i + 1 < length && raw[i] == '?' && raw[i + 1] == 0;
        i += 2;
      }
    }
    return count;
  }

  // A Memo or OLE value whole: the 12-byte reference in the record, then the
  // value inline, on one page, or on a chain of pages.
  std::string ReadLongValue(MdbColumn* column, const MdbField& field) {
    unsigned char reference[MDB_MEMO_OVERHEAD];
    std::memcpy(reference, At(field, MDB_MEMO_OVERHEAD), MDB_MEMO_OVERHEAD);
    uint32_t stored_length = 0;
    std::memcpy(&stored_length, reference, 4);
    stored_length &= kLongValueLengthMask;
    if (stored_length > kMaxLongValue) throw Damaged("a long value");
    column->cur_value_start = field.start;
    column->cur_value_len = field.siz;
    column->bind_ptr = chunk_.data();
    std::string bytes;
    size_t got = mdb_ole_read(mdb_, column, reference, chunk_.size());
    bytes.append(chunk_.data(), got);
    while ((got = mdb_ole_read_next(mdb_, column, reference)) != 0) {
      bytes.append(chunk_.data(), got);
      if (bytes.size() > stored_length) break;
    }
    column->bind_ptr = nullptr;  // the buffer is this reader's; libmdb keeps no pointer to it
    // libmdb returns what it found when a page of the value is missing.
    if (bytes.size() != stored_length) throw Damaged("a long value");
    return bytes;
  }

  MdbHandle* mdb_;
  MdbTableDef* table_;
  std::vector<MdbField> fields_;
  std::vector<char> chunk_;
  bool page_ = false;
  int slot_ = -1;
};

std::string TextAt(const std::vector<SourceValue>& values, int index) {
  return index < 0 || values[index].kind != ValueKind::kText ? std::string() : values[index].bytes;
}

int ColumnIndex(MdbTableDef* table, const char* name) {
  for (unsigned i = 0; i < table->num_cols; ++i) {
    auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    if (g_ascii_strcasecmp(column->name, name) == 0) return static_cast<int>(i);
  }
  return -1;
}

TablePtr OpenTable(MdbHandle* mdb, const std::string& name) {
  MdbCatalogEntry* entry = mdb_get_catalogentry_by_name(mdb, name.c_str());
  TablePtr table(entry ? mdb_read_table(entry) : nullptr);
  if (!table || !mdb_read_columns(table.get()))
    throw ReaderFailed("libmdb cannot read table '" + name + "'");
  mdb_read_indices(table.get());
  return table;
}

// The catalogue as MSysObjects holds it: libmdb's own catalogue entries lack
// the link columns (Database, Connect, ForeignName).
std::vector<CatalogRow> ReadCatalog(MdbHandle* mdb) {
  TablePtr table = OpenTable(mdb, "MSysObjects");
  int name = ColumnIndex(table.get(), "Name"), type = ColumnIndex(table.get(), "Type");
  int flags = ColumnIndex(table.get(), "Flags"), database = ColumnIndex(table.get(), "Database");
  int connect = ColumnIndex(table.get(), "Connect");
  int foreign = ColumnIndex(table.get(), "ForeignName");
  if (name < 0 || type < 0 || flags < 0) throw ReaderFailed("the catalogue is damaged");
  std::vector<CatalogRow> rows;
  RowReader reader(mdb, table.get());
  std::vector<SourceValue> values;
  while (reader.Next(&values)) {
    CatalogRow row;
    row.name = TextAt(values, name);
    row.type = static_cast<int>(values[type].integer);
    row.flags = static_cast<uint32_t>(values[flags].integer);
    row.database = TextAt(values, database);
    row.connect = TextAt(values, connect);
    row.foreign_name = TextAt(values, foreign);
    rows.push_back(std::move(row));
  }
  return rows;
}

SourceColumn DescribeColumn(MdbHandle* mdb, MdbColumn* column) {
  SourceColumn out;
  out.name = column->name;
  out.type = column->col_type;
  out.size = column->col_size;
  // Jet 4 and ACE give a Text column's size in bytes of UCS-2.
  if (column->col_type == MDB_TEXT && mdb->f->jet_version != MDB_VER_JET3) out.size /= 2;
  out.precision = column->col_scale;  // swapped in libmdb, see SetDecimal
  out.scale = column->col_prec;
  out.auto_number = column->is_long_auto;
  const char* required = mdb_col_get_prop(column, "Required");
  out.required = required && g_ascii_strcasecmp(required, "yes") == 0;
  const char* expression = mdb_col_get_prop(column, "Expression");
  out.calculated = expression && *expression;
  return out;
}

SourceTable DescribeTable(MdbHandle* mdb, MdbTableDef* table, const CatalogRow& row) {
  SourceTable out;
  out.name = row.name;
  out.flags = row.flags;
  for (unsigned i = 0; i < table->num_cols; ++i)
    out.columns.push_back(DescribeColumn(mdb, static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i))));
  for (unsigned i = 0; table->indices && i < table->indices->len; ++i) {
    auto* index = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, i));
    SourceIndex described;
    described.name = index->name;
    described.primary = index->index_type == 1;
    described.foreign_key = index->index_type == 2;
    described.unique = index->flags & MDB_IDX_UNIQUE;
    for (unsigned k = 0; k < index->num_keys && k < MDB_MAX_IDX_COLS; ++k) {
      int position = index->key_col_num[k] - 1;
      if (position < 0 || position >= static_cast<int>(table->num_cols))
        throw ReaderFailed("an index of table '" + row.name + "' is damaged");
      described.columns.push_back(position);
    }
    out.indexes.push_back(std::move(described));
  }
  return out;
}

}  // namespace

void ReadMdbFile(const std::string& path, StreamWriter& out) {
  std::unique_ptr<MdbHandle, HandleCloser> mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb) throw ReaderFailed("libmdb cannot open the file");
  if (!mdb_read_catalog(mdb.get(), MDB_ANY)) throw ReaderFailed("libmdb cannot read the catalogue");
  std::vector<TablePtr> tables;
  for (const CatalogRow& row : ReadCatalog(mdb.get())) {
    if (row.type == 1 && !IsEngineTable(row)) {
      tables.push_back(OpenTable(mdb.get(), row.name));
      out.Table(DescribeTable(mdb.get(), tables.back().get(), row));
    } else if (row.type == 4 || row.type == 6) {
      out.Link(row);
    } else if (const char* kind = SkippedKind(row)) {
      out.Object({kind, row.name});
    }
  }
  std::vector<SourceValue> values;
  for (size_t i = 0; i < tables.size(); ++i) {
    out.BeginRows(static_cast<int>(i));
    RowReader reader(mdb.get(), tables[i].get());
    while (reader.Next(&values)) out.Row(values);
    out.EndRows();
  }
  out.Done();
}

}  // namespace tabsync::import
