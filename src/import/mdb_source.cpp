#include "import/mdb_source.h"

#include <mdbtools.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbengine/decimal.h"
#include "dbengine/names.h"
#include "import/import_errors.h"
#include "import/jet_text.h"
#include "import/stored_values.h"
#include "import/table_definition.h"

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
constexpr unsigned kDeletedRow = 0x4000;
constexpr unsigned kLongValueLengthMask = 0x3fffffff;
constexpr uint32_t kCatalogPage = 2;           // MSysObjects' definition
constexpr uint32_t kPageOfId = 0x00ffffff;     // MSysObjects Id: the definition's page
constexpr size_t kMaxDefinitionPages = 1024;
constexpr uint8_t kCalculatedFlags = 0xc0;
constexpr int kCalculatedTextOverhead = 23;    // counted in a calculated Text's size

// A row of MSysObjects holds what a link needs and more.
struct CatalogRow : SourceLink {
  uint32_t id = 0;
};

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

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

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

// How the reader decodes one column's stored values.
struct ColumnRule {
  int type = 0;  // jet::k..., the result type for a calculated column
  bool calculated = false;
  int scale = 0;  // a Decimal's (a calculated one's values carry their own)
};

// Reads the records of one table: libmdb's walk over the table's data pages
// (mdb_read_next_dpg), its row offsets and mdb_crack_row, which is the only
// call that tells a Null from an empty text. mdb_fetch_row would do the
// walk too, but it passes over a record it cannot read without a word.
class RowReader {
 public:
  RowReader(MdbHandle* mdb, MdbTableDef* table, JetTextDecoder& text, std::vector<ColumnRule> rules)
      : mdb_(mdb), table_(table), text_(text), rules_(std::move(rules)), fields_(table->num_cols),
        chunk_(kBindSize) {
    mdb_rewind_table(table_);
  }

  bool Next(std::vector<SourceValue>* values) {
    int start = 0;
    size_t length = 0;
    do {
      if (!NextSlot()) return false;
      unsigned offset = SlotOffset();
      // A deleted record's slot is flagged 0x4000 (as is the slot a record
      // moved from, which is read where it now lies) or points at the page's
      // end. An empty slot holds nothing.
      if ((offset & kDeletedRow) || (offset & kRowOffsetMask) == static_cast<unsigned>(mdb_->fmt->pg_size))
        continue;
      if (mdb_find_row(mdb_, slot_, &start, &length) != 0) throw Damaged("a record");
    } while ((start & kDeletedRow) || length == 0);
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
      Decode(rules_[field.colnum], column, field, &(*values)[field.colnum]);
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

  unsigned SlotOffset() const {
    int at = mdb_->fmt->row_count_offset + 2 + 2 * slot_;
    if (at + 2 > mdb_->fmt->pg_size) throw Damaged("a data page");
    return static_cast<unsigned>(mdb_get_int16(mdb_->pg_buf, at));
  }

  Error Damaged(const std::string& what) const {
    return ReaderFailed(what + " of table '" + std::string(table_->name) + "' is damaged");
  }

  std::string_view Stored(const MdbField& field) const {
    if (field.start < 0 || field.siz < 0 || field.start + field.siz > mdb_->fmt->pg_size)
      throw Damaged("a record");
    return std::string_view(reinterpret_cast<const char*>(mdb_->pg_buf) + field.start, field.siz);
  }

  template <typename T>
  T Fixed(std::string_view bytes) const {
    if (bytes.size() < sizeof(T)) throw Damaged("a record");
    T value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
  }

  void Decode(const ColumnRule& rule, MdbColumn* column, const MdbField& field, SourceValue* value) {
    value->kind = ValueKind::kNull;
    if (rule.type == jet::kBoolean && !rule.calculated) {
      // Jet keeps a Boolean in the record's null mask: a set bit is True.
      SetInteger(value, field.is_null ? 0 : 1);
      return;
    }
    if (field.is_null) return;
    if (rule.type == jet::kMemo || rule.type == jet::kOle) {
      std::string bytes = ReadLongValue(column, field);
      DecodeStored(rule.type, rule.calculated ? Unwrapped(bytes) : bytes, value);
    } else if (rule.type == jet::kDecimal && !rule.calculated) {
      SetDecimal(rule.scale, field, value);
    } else {
      std::string_view stored = Stored(field);
      DecodeStored(rule.type, rule.calculated ? Unwrapped(stored) : stored, value);
    }
  }

  std::string_view Unwrapped(std::string_view stored) const {
    std::string_view value;
    if (!UnwrapCalculated(stored, &value)) throw Damaged("a calculated value");
    return value;
  }

  void DecodeStored(int type, std::string_view bytes, SourceValue* value) {
    switch (type) {
      case jet::kBoolean: SetInteger(value, Fixed<uint8_t>(bytes) != 0); break;  // a calculated one
      case jet::kByte: SetInteger(value, Fixed<uint8_t>(bytes)); break;
      case jet::kInteger: SetInteger(value, Fixed<int16_t>(bytes)); break;
      case jet::kLong:
      case jet::kComplex: SetInteger(value, Fixed<int32_t>(bytes)); break;
      case jet::kBigInt: SetInteger(value, Fixed<int64_t>(bytes)); break;
      case jet::kCurrency:
        value->kind = ValueKind::kCurrency;
        value->integer = Fixed<int64_t>(bytes);
        break;
      case jet::kSingle: SetDouble(value, ValueKind::kDouble, Fixed<float>(bytes)); break;
      case jet::kDouble: SetDouble(value, ValueKind::kDouble, Fixed<double>(bytes)); break;
      case jet::kDateTime: SetDouble(value, ValueKind::kDate, Fixed<double>(bytes)); break;
      case jet::kText:
      case jet::kMemo: SetText(value, bytes); break;
      case jet::kOle:
      case jet::kBinary: SetBytes(value, ValueKind::kBinary, bytes); break;
      case jet::kGuid:
        if (bytes.size() < 16) throw Damaged("a record");
        SetBytes(value, ValueKind::kText, GuidText(reinterpret_cast<const unsigned char*>(bytes.data())));
        break;
      case jet::kDateTimeExtended:
        value->kind = ValueKind::kExtendedDate;
        if (!ExtendedDateText(bytes, &value->bytes)) throw Damaged("a Date/Time Extended value");
        break;
      case jet::kDecimal:  // a calculated one
        value->kind = ValueKind::kDecimal;
        if (!CalculatedDecimalText(bytes, &value->bytes)) throw Damaged("a calculated value");
        break;
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
  static void SetBytes(SourceValue* value, ValueKind kind, std::string_view bytes) {
    value->kind = kind;
    value->bytes.assign(bytes);
  }

  void SetDecimal(int scale, const MdbField& field, SourceValue* value) {
    std::string_view stored = Stored(field);
    if (stored.size() < 17) throw Damaged("a record");
    SetBytes(value, ValueKind::kDecimal,
             StoredDecimalText(reinterpret_cast<const unsigned char*>(stored.data()), scale));
  }

  void SetText(SourceValue* value, std::string_view raw) {
    value->kind = text_.Decode(reinterpret_cast<const unsigned char*>(raw.data()), raw.size(), &value->bytes)
                      ? ValueKind::kText
                      : ValueKind::kUndecodable;
  }

  // A Memo or OLE value whole: the 12-byte reference in the record, then the
  // value inline, on one page, or on a chain of pages.
  std::string ReadLongValue(MdbColumn* column, const MdbField& field) {
    std::string_view stored = Stored(field);
    unsigned char reference[MDB_MEMO_OVERHEAD];
    if (stored.size() < MDB_MEMO_OVERHEAD) throw Damaged("a record");
    std::memcpy(reference, stored.data(), MDB_MEMO_OVERHEAD);
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
  JetTextDecoder& text_;
  std::vector<ColumnRule> rules_;
  std::vector<MdbField> fields_;
  std::vector<char> chunk_;
  bool page_ = false;
  int slot_ = -1;
};

// libmdb keeps a Decimal's precision in col_scale and its scale in col_prec.
std::vector<ColumnRule> PlainRules(MdbTableDef* table) {
  std::vector<ColumnRule> rules;
  for (unsigned i = 0; i < table->num_cols; ++i) {
    auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    rules.push_back({column->col_type, false, column->col_prec});
  }
  return rules;
}

MdbColumn* ColumnAt(MdbTableDef* table, size_t position) {
  return static_cast<MdbColumn*>(g_ptr_array_index(table->columns, position));
}

int ColumnIndex(MdbTableDef* table, const char* name) {
  for (unsigned i = 0; i < table->num_cols; ++i)
    if (g_ascii_strcasecmp(ColumnAt(table, i)->name, name) == 0) return static_cast<int>(i);
  return -1;
}

std::string TextAt(const std::vector<SourceValue>& values, int index) {
  return index < 0 || values[index].kind != ValueKind::kText ? std::string() : values[index].bytes;
}

int64_t IntegerAt(const std::vector<SourceValue>& values, int index) {
  return index < 0 || values[index].kind != ValueKind::kInteger ? 0 : values[index].integer;
}

int PropertyNumber(MdbColumn* column, const char* name) {
  const char* text = mdb_col_get_prop(column, name);
  return text ? std::atoi(text) : 0;
}

// A table as the stream carries it: the libmdb table whose records are read
// and how, and what the writer is told of it. A child table holds the
// values of one complex column of an earlier table (its parent).
struct StreamTable {
  uint32_t page = 0;  // of its definition
  TablePtr mdb;
  TableDefinition definition;
  std::vector<int> by_number;  // the libmdb position of each column, in definition order
  std::vector<ColumnRule> rules;
  SourceTable source;
  std::vector<size_t> children;
  // A child table: its parent, the complex column there, and where the
  // values lie in the flat table that Jet keeps for it.
  size_t parent = 0;
  int parent_column = -1;
  int flat_id = -1, flat_key = -1;
  std::vector<int> flat_values;
  bool attachments = false;  // the last value is an attachment's stored FileData
  // The parent's key values of each record, by its complex column's value:
  // kept from the parent's records to its child's (memory grows with the
  // records of a table that has complex columns, and only there).
  std::unordered_map<int64_t, std::vector<SourceValue>> parent_keys;
};

// MSysComplexColumns: where a complex column keeps its values.
struct ComplexColumnRow {
  uint32_t type_table = 0;  // the definition page of the type (MSysComplexType_...)
  uint32_t flat_table = 0;  // the definition page of the table of values (f_...)
  uint32_t table = 0;       // the definition page of the column's own table
};

class FileReader {
 public:
  FileReader(MdbHandle* mdb, StreamWriter& out)
      : mdb_(mdb), out_(out), text_(mdb->f->jet_version == MDB_VER_JET3, mdb->f->code_page) {}

  void Run() {
    catalog_ = ReadCatalog();
    for (const CatalogRow& row : catalog_) {
      if (row.type == 1 && !IsEngineTable(row)) {
        AddTable(row);
      } else if (row.type == 4 || row.type == 6) {
        out_.Link(row);
      } else if (const char* kind = SkippedKind(row)) {
        out_.Object({kind, row.name});
      }
    }
    for (size_t i = 0; i < tables_.size(); ++i) StreamRows(i);
    out_.Done();
  }

 private:
  bool jet3() const { return mdb_->f->jet_version == MDB_VER_JET3; }

  // The table whose definition is on `page`: libmdb's catalogue entry of
  // that table, never another object (a form, say) of the same name.
  TablePtr OpenTable(uint32_t page, const std::string& name) {
    MdbCatalogEntry* found = nullptr;
    for (unsigned i = 0; mdb_->catalog && i < mdb_->catalog->len; ++i) {
      auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb_->catalog, i));
      if (entry->object_type == MDB_TABLE && entry->table_pg == page) found = entry;
    }
    TablePtr table(found ? mdb_read_table(found) : nullptr);
    if (!table || !mdb_read_columns(table.get())) throw ReaderFailed("libmdb cannot read table '" + name + "'");
    return table;
  }

  // The table's TDEF pages joined, each page after the first without its
  // 8-byte header.
  std::string DefinitionBytes(uint32_t page, const std::string& name) {
    std::string bytes;
    std::set<uint32_t> seen;
    const size_t size = static_cast<size_t>(mdb_->fmt->pg_size);
    while (page != 0) {
      if (!seen.insert(page).second || seen.size() > kMaxDefinitionPages ||
          mdb_read_alt_pg(mdb_, page) != static_cast<ssize_t>(size) || mdb_->alt_pg_buf[0] != 0x02)
        throw ReaderFailed("the definition of table '" + name + "' is damaged");
      size_t skip = bytes.empty() ? 0 : 8;
      bytes.append(reinterpret_cast<const char*>(mdb_->alt_pg_buf) + skip, size - skip);
      page = static_cast<uint32_t>(mdb_get_int32(mdb_->alt_pg_buf, 4));
    }
    return bytes;
  }

  StreamTable Open(uint32_t page, const std::string& name) {
    StreamTable table;
    table.page = page;
    table.mdb = OpenTable(page, name);
    table.definition = ParseTableDefinition(DefinitionBytes(page, name), jet3(), text_, name);
    MatchColumns(&table, name);
    table.rules = PlainRules(table.mdb.get());
    table.source.name = name;
    return table;
  }

  // libmdb orders the columns by the low byte of their numbers; each must be
  // the definition's column of that rank.
  void MatchColumns(StreamTable* table, const std::string& name) {
    const std::vector<TableColumnDefinition>& columns = table->definition.columns;
    if (columns.size() != table->mdb->num_cols) throw ReaderFailed("the definition of table '" + name + "' is damaged");
    std::vector<size_t> order(columns.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return columns[a].number < columns[b].number; });
    table->by_number.assign(columns.size(), -1);
    for (size_t rank = 0; rank < order.size(); ++rank) {
      const TableColumnDefinition& column = columns[order[rank]];
      MdbColumn* read = ColumnAt(table->mdb.get(), rank);
      if ((column.number & 0xff) != read->col_num || column.type != read->col_type)
        throw ReaderFailed("libmdb reads the columns of table '" + name + "' otherwise than their definition");
      table->by_number[order[rank]] = static_cast<int>(rank);
    }
  }

  int PositionOf(const StreamTable& table, int number) const {
    for (size_t i = 0; i < table.definition.columns.size(); ++i)
      if (table.definition.columns[i].number == number) return table.by_number[i];
    return -1;  // ParseTableDefinition saw that every key column exists
  }

  const TableColumnDefinition& DefinitionAt(const StreamTable& table, int position) const {
    for (size_t i = 0; i < table.by_number.size(); ++i)
      if (table.by_number[i] == position) return table.definition.columns[i];
    throw ReaderFailed("the definition of table '" + table.source.name + "' is damaged");
  }

  void Describe(StreamTable* table) {
    for (unsigned i = 0; i < table->mdb->num_cols; ++i)
      table->source.columns.push_back(DescribeColumn(table, static_cast<int>(i)));
    for (const TableIndexDefinition& index : table->definition.indexes) {
      SourceIndex described{index.name, index.primary, index.foreign_key, index.unique, {}};
      for (int number : index.column_numbers) described.columns.push_back(PositionOf(*table, number));
      table->source.indexes.push_back(std::move(described));
    }
  }

  SourceColumn DescribeColumn(StreamTable* table, int position) {
    MdbColumn* column = ColumnAt(table->mdb.get(), position);
    const TableColumnDefinition& definition = DefinitionAt(*table, position);
    SourceColumn out;
    out.name = definition.name;
    out.type = column->col_type;
    out.size = column->col_size;
    out.precision = column->col_scale;  // swapped in libmdb, see PlainRules
    out.scale = column->col_prec;
    out.auto_number = column->is_long_auto;
    const char* required = mdb_col_get_prop(column, "Required");
    out.required = required && g_ascii_strcasecmp(required, "yes") == 0;
    if (!jet3() && (definition.extra_flags & kCalculatedFlags) == kCalculatedFlags) DescribeCalculated(column, &out);
    // Jet 4 and ACE give a Text column's size in bytes of UCS-2.
    if (out.type == jet::kText && !jet3() && !out.calculated) out.size /= 2;
    table->rules[position] = {out.type, out.calculated, out.scale};
    return out;
  }

  // A calculated column's stored values are of its result type (the
  // ResultType property, a Jet type code), whatever its own type says.
  static void DescribeCalculated(MdbColumn* column, SourceColumn* out) {
    out->calculated = true;
    const char* expression = mdb_col_get_prop(column, "Expression");
    out->expression = expression ? expression : "";
    if (int result = PropertyNumber(column, "ResultType")) out->type = result;
    if (out->type == jet::kText) out->size = (out->size - kCalculatedTextOverhead) / 2;
    if (out->type == jet::kMemo) out->size = 0;
  }

  void AddTable(const CatalogRow& row) {
    StreamTable table = Open(row.id & kPageOfId, row.name);
    table.source.flags = row.flags;
    Describe(&table);
    SizeCalculatedDecimals(&table);
    size_t index = tables_.size();
    tables_.push_back(std::move(table));
    for (size_t i = 0; i < tables_[index].source.columns.size(); ++i)
      if (tables_[index].source.columns[i].type == jet::kComplex) AddComplexColumn(index, static_cast<int>(i));
    out_.Table(tables_[index].source);
    for (size_t child : tables_[index].children) out_.Table(tables_[child].source);
  }

  // A calculated Decimal's values each carry a scale of their own (0 to 28)
  // and the column none: it gets the precision and scale that hold every
  // one of its values, from a first pass over the records.
  void SizeCalculatedDecimals(StreamTable* table) {
    std::vector<int> columns;
    for (size_t i = 0; i < table->source.columns.size(); ++i)
      if (table->source.columns[i].calculated && table->source.columns[i].type == jet::kDecimal)
        columns.push_back(static_cast<int>(i));
    if (columns.empty()) return;
    std::vector<size_t> whole(columns.size()), scale(columns.size());
    std::vector<bool> any(columns.size());
    RowReader reader(mdb_, table->mdb.get(), text_, table->rules);
    while (reader.Next(&values_)) {
      for (size_t c = 0; c < columns.size(); ++c) {
        const SourceValue& value = values_[columns[c]];
        if (value.kind != ValueKind::kDecimal) continue;
        any[c] = true;
        size_t point = std::min(value.bytes.find('.'), value.bytes.size());
        size_t first = value.bytes.find_first_not_of("-0");
        whole[c] = std::max(whole[c], first < point ? point - first : 0);
        scale[c] = std::max(scale[c], point < value.bytes.size() ? value.bytes.size() - point - 1 : 0);
      }
    }
    for (size_t c = 0; c < columns.size(); ++c) {
      SourceColumn& column = table->source.columns[columns[c]];
      column.precision =
          any[c] ? static_cast<int>(std::max<size_t>(whole[c] + scale[c], 1)) : dao::kDefaultDecimalPrecision;
      column.scale = static_cast<int>(scale[c]);
    }
  }

  // ---- complex columns ----------------------------------------------------

  const ComplexColumnRow* ComplexRow(uint32_t id) {
    if (!complex_rows_read_) ReadComplexColumns();
    auto found = complex_rows_.find(id);
    return found == complex_rows_.end() ? nullptr : &found->second;
  }

  void ReadComplexColumns() {
    complex_rows_read_ = true;
    for (const CatalogRow& row : catalog_) {
      if (row.type != 1 || row.name != "MSysComplexColumns") continue;
      StreamTable table = Open(row.id & kPageOfId, row.name);
      MdbTableDef* mdb = table.mdb.get();
      int id = ColumnIndex(mdb, "ComplexID");
      int type = ColumnIndex(mdb, "ComplexTypeObjectID"), flat = ColumnIndex(mdb, "FlatTableID");
      int owner = ColumnIndex(mdb, "ConceptualTableID");
      RowReader reader(mdb_, mdb, text_, table.rules);
      std::vector<SourceValue> values;
      while (reader.Next(&values))
        complex_rows_[static_cast<uint32_t>(IntegerAt(values, id))] = {
            static_cast<uint32_t>(IntegerAt(values, type)) & kPageOfId,
            static_cast<uint32_t>(IntegerAt(values, flat)) & kPageOfId,
            static_cast<uint32_t>(IntegerAt(values, owner)) & kPageOfId};
    }
  }

  const CatalogRow* CatalogRowAt(uint32_t page) const {
    for (const CatalogRow& row : catalog_)
      if (row.type == 1 && (row.id & kPageOfId) == page) return &row;
    return nullptr;
  }

  // Works out what the complex column at `position` holds; for attachments
  // and multiple values in a table with a primary key, adds the child
  // table that will hold them.
  void AddComplexColumn(size_t parent, int position) {
    SourceColumn& column = tables_[parent].source.columns[position];
    column.complex = ComplexKind::kUnknown;
    const ComplexColumnRow* row = ComplexRow(DefinitionAt(tables_[parent], position).complex_id);
    if (row && row->table != tables_[parent].page) row = nullptr;  // another table's column
    const CatalogRow* type_row = row ? CatalogRowAt(row->type_table) : nullptr;
    const CatalogRow* flat_row = row ? CatalogRowAt(row->flat_table) : nullptr;
    if (!type_row || !flat_row) return;
    TableDefinition type = ParseTableDefinition(DefinitionBytes(row->type_table, type_row->name), jet3(), text_,
                                                type_row->name);
    column.complex = KindOf(type);
    if (column.complex == ComplexKind::kVersionHistory) {
      for (const TableColumnDefinition& value : type.columns)
        if (value.type == jet::kMemo) column.detail = value.name;
      return;
    }
    if (column.complex == ComplexKind::kUnknown || PrimaryKeyOf(tables_[parent].source).empty()) return;
    AddChildTable(parent, position, type, *flat_row);
  }

  static ComplexKind KindOf(const TableDefinition& type) {
    int memo = 0, date = 0;
    bool file_data = false;
    for (const TableColumnDefinition& column : type.columns) {
      memo += column.type == jet::kMemo;
      date += column.type == jet::kDateTime;
      file_data = file_data || (column.type == jet::kOle && column.name == "FileData");
    }
    if (file_data) return ComplexKind::kAttachments;
    if (type.columns.size() == 1) return ComplexKind::kMultipleValues;
    if (memo >= 1 && date >= 1) return ComplexKind::kVersionHistory;
    return ComplexKind::kUnknown;
  }

  static std::vector<int> PrimaryKeyOf(const SourceTable& table) {
    for (const SourceIndex& index : table.indexes)
      if (index.primary) return index.columns;
    return {};
  }

  std::string FreeTableName(const std::string& wanted) {
    std::set<std::string> taken;
    for (const CatalogRow& row : catalog_) taken.insert(dao::LowerName(row.name));
    for (const StreamTable& table : tables_) taken.insert(dao::LowerName(table.source.name));
    std::string name = wanted;
    for (int n = 2; taken.count(dao::LowerName(name)); ++n) name = wanted + "_" + std::to_string(n);
    return name;
  }

  // The child table of a complex column: ID (the value's own number in
  // Jet's flat table), the parent's key columns named PARENT_COLUMN, then
  // FileName, FileType and FileData (attachments) or the value.
  void AddChildTable(size_t parent, int position, const TableDefinition& type, const CatalogRow& flat_row) {
    StreamTable child = Open(flat_row.id & kPageOfId, flat_row.name);
    Describe(&child);
    SourceColumn& column = tables_[parent].source.columns[position];
    if (!FindFlatColumns(&child, type, column.complex)) {
      column.complex = ComplexKind::kUnknown;
      return;
    }
    child.attachments = column.complex == ComplexKind::kAttachments;
    child.source = ChildSchema(tables_[parent].source, column, child);
    column.detail = child.source.name;
    child.parent = parent;
    child.parent_column = position;
    tables_[parent].children.push_back(tables_.size());
    tables_.push_back(std::move(child));
  }

  // Where the flat table holds each value's own number (an AutoNumber Long
  // of its own), the number of the record it belongs to (a Long the
  // record's complex column holds too) and the values kept. False when any
  // is missing.
  static bool FindFlatColumns(StreamTable* flat, const TableDefinition& type, ComplexKind kind) {
    const std::vector<SourceColumn>& columns = flat->source.columns;
    for (size_t i = 0; i < columns.size(); ++i) {
      bool of_type = false;
      for (const TableColumnDefinition& value : type.columns) of_type = of_type || value.name == columns[i].name;
      if (of_type || columns[i].type != jet::kLong) continue;
      (columns[i].auto_number ? flat->flat_id : flat->flat_key) = static_cast<int>(i);
    }
    std::vector<std::string> kept = {"FileName", "FileType", "FileData"};
    if (kind == ComplexKind::kMultipleValues) kept = {type.columns[0].name};
    for (const std::string& name : kept)
      for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name == name) flat->flat_values.push_back(static_cast<int>(i));
    return flat->flat_id >= 0 && flat->flat_key >= 0 && flat->flat_values.size() == kept.size();
  }

  SourceTable ChildSchema(const SourceTable& owner, const SourceColumn& column, const StreamTable& flat) {
    SourceTable child;
    child.name = FreeTableName(owner.name + "_" + column.name);
    child.columns.push_back({"ID", jet::kLong, 4, 0, 0, true, false, false, "", ComplexKind::kNone, ""});
    SourceIndex parent_key{child.name + "_ParentKey", false, false, false, {}};
    for (int k : PrimaryKeyOf(owner)) {
      SourceColumn copy = owner.columns[k];
      copy.name = owner.name + "_" + copy.name;
      copy.auto_number = copy.calculated = false;
      copy.expression.clear();
      parent_key.columns.push_back(static_cast<int>(child.columns.size()));
      child.columns.push_back(copy);
    }
    for (int value : flat.flat_values) child.columns.push_back(flat.source.columns[value]);
    child.indexes = {{"PrimaryKey", true, false, true, {0}}, parent_key};
    return child;
  }

  // ---- records --------------------------------------------------------------

  void StreamRows(size_t index) {
    StreamTable& table = tables_[index];
    out_.BeginRows(static_cast<int>(index));
    if (table.parent_column >= 0) {
      StreamChildRows(table);
    } else {
      RowReader reader(mdb_, table.mdb.get(), text_, table.rules);
      std::vector<int> key = PrimaryKeyOf(table.source);
      while (reader.Next(&values_)) {
        for (size_t child : table.children) KeepParentKey(&tables_[child], key);
        out_.Row(values_);
      }
    }
    out_.EndRows();
  }

  void KeepParentKey(StreamTable* child, const std::vector<int>& key) {
    const SourceValue& complex = values_[child->parent_column];
    if (complex.kind != ValueKind::kInteger) return;
    std::vector<SourceValue>& kept = child->parent_keys[complex.integer];
    kept.clear();
    for (int k : key) kept.push_back(values_[k]);
  }

  void StreamChildRows(StreamTable& child) {
    RowReader reader(mdb_, child.mdb.get(), text_, child.rules);
    std::vector<SourceValue> row;
    int64_t orphans = 0;
    while (reader.Next(&values_)) {
      auto parent = child.parent_keys.find(IntegerAt(values_, child.flat_key));
      if (values_[child.flat_key].kind != ValueKind::kInteger || parent == child.parent_keys.end()) {
        ++orphans;
        continue;
      }
      row.assign(1, values_[child.flat_id]);
      row.insert(row.end(), parent->second.begin(), parent->second.end());
      for (int value : child.flat_values) row.push_back(values_[value]);
      if (child.attachments) DecodeFileData(child, &row.back());
      out_.Row(row);
    }
    if (orphans > 0) {
      const SourceTable& parent = tables_[child.parent].source;
      out_.Warning("table " + Quoted(parent.name) + ", column " +
                   Quoted(parent.columns[child.parent_column].name) + ": " + std::to_string(orphans) +
                   " values that belong to no record are left out");
    }
    child.parent_keys.clear();
  }

  void DecodeFileData(const StreamTable& child, SourceValue* value) {
    if (value->kind != ValueKind::kBinary) return;
    std::string file, reason;
    if (!DecodeAttachment(value->bytes, kMaxLongValue, &file, &reason))
      throw ReaderFailed("an attachment of table '" + tables_[child.parent].source.name + "' is damaged: " + reason);
    value->bytes = std::move(file);
  }

  // ---- the catalogue --------------------------------------------------------

  // The catalogue as MSysObjects holds it: libmdb's own catalogue entries lack
  // the link columns (Database, Connect, ForeignName).
  std::vector<CatalogRow> ReadCatalog() {
    TablePtr table = OpenTable(kCatalogPage, "MSysObjects");
    int name = ColumnIndex(table.get(), "Name"), type = ColumnIndex(table.get(), "Type");
    int flags = ColumnIndex(table.get(), "Flags"), database = ColumnIndex(table.get(), "Database");
    int connect = ColumnIndex(table.get(), "Connect"), id = ColumnIndex(table.get(), "Id");
    int foreign = ColumnIndex(table.get(), "ForeignName");
    if (name < 0 || type < 0 || flags < 0 || id < 0) throw ReaderFailed("the catalogue is damaged");
    std::vector<CatalogRow> rows;
    RowReader reader(mdb_, table.get(), text_, PlainRules(table.get()));
    std::vector<SourceValue> values;
    while (reader.Next(&values)) {
      CatalogRow row;
      row.name = TextAt(values, name);
      row.type = static_cast<int>(IntegerAt(values, type));
      row.flags = static_cast<uint32_t>(IntegerAt(values, flags));
      row.id = static_cast<uint32_t>(IntegerAt(values, id));
      row.database = TextAt(values, database);
      row.connect = TextAt(values, connect);
      row.foreign_name = TextAt(values, foreign);
      rows.push_back(std::move(row));
    }
    return rows;
  }

  MdbHandle* mdb_;
  StreamWriter& out_;
  JetTextDecoder text_;
  std::vector<CatalogRow> catalog_;
  std::vector<StreamTable> tables_;
  bool complex_rows_read_ = false;
  std::unordered_map<uint32_t, ComplexColumnRow> complex_rows_;
  std::vector<SourceValue> values_;
};

}  // namespace

void ReadMdbFile(const std::string& path, StreamWriter& out) {
  std::unique_ptr<MdbHandle, HandleCloser> mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb) throw ReaderFailed("libmdb cannot open the file");
  if (!mdb_read_catalog(mdb.get(), MDB_ANY)) throw ReaderFailed("libmdb cannot read the catalogue");
  FileReader(mdb.get(), out).Run();
}

}  // namespace tabsync::import
