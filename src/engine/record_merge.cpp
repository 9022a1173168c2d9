#include "engine/record_merge.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "dbengine/error.h"
#include "dbengine/field_types.h"
#include "dbengine/names.h"
#include "engine/field_rules.h"
#include "engine/runtime_errors.h"

namespace tabsync::engine {
namespace {

using dao::LowerName;
using dao::Variant;

// A name as the queries write it: in brackets, which it must not be able to
// close.
std::string Bracketed(const std::string& name) {
  if (name.find(']') != std::string::npos) throw InvalidName(name);
  return "[" + name + "]";
}

// Appends a text literal that no key can leave: each quote doubled.
void AppendQuotedText(const std::string& text, std::string* out) {
  *out += '\'';
  for (char c : text) {
    *out += c;
    if (c == '\'') *out += '\'';
  }
  *out += '\'';
}

bool IsNumberLiteral(const std::string& text) {
  size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
  size_t digits = 0, point = 0;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.' && point++ == 0 && digits > 0 && i + 1 < text.size()) {
      continue;
    } else {
      return false;
    }
  }
  return digits > 0;
}

// The engine's SQL has no exponent form, while the text form of a number
// uses it for very small and very large values ("1e-07"). Such a key is
// written in plain decimals that read back as the same number; "" when the
// text is no number.
std::string PlainDecimal(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [parsed, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || parsed != end || !std::isfinite(value)) return "";
  char buffer[400];  // room for every double in fixed notation
  auto [written, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                        std::chars_format::fixed);
  if (error != std::errc()) return "";
  return std::string(buffer, written);
}

// Key fields whose values are written as quoted literals: texts, and dates,
// which the engine keeps as text.
bool TakesQuotedKey(int type) {
  return type == dao::kTypeText || type == dao::kTypeMemo || type == dao::kTypeDate ||
         type == dao::kTypeDateExtended;
}

// Appends the key as a number literal of the engine's SQL: its text when
// that is one, a number in exponent form in plain decimals, a Boolean as the
// number the platform gives it (True -1, False 0), which is also what the
// engine stores when it writes a Boolean into a numeric field. Raises 3464
// for a key that is no number.
void AppendNumber(const Variant& key, const std::string& key_text, std::string* out) {
  if (key.kind() == Variant::Kind::kBoolean) {
    out->append(key.AsBoolean() ? "-1" : "0");
  } else if (IsNumberLiteral(key_text)) {
    out->append(key_text);
  } else {
    std::string plain = PlainDecimal(key_text);
    if (!IsNumberLiteral(plain)) throw CriteriaTypeMismatch();
    out->append(plain);
  }
}

// A key as a Boolean field takes it, the way the engine reads and writes
// Booleans: a number is True unless it is 0, and a text is one of the words
// the engine takes for True or False, or a number. Raises 3464 for any
// other text.
bool KeyIsTrue(const Variant& key, const std::string& key_text) {
  if (key.IsNumber()) return key.AsDouble() != 0;
  std::string word = LowerName(key_text);
  if (word == "true" || word == "yes" || word == "on") return true;
  if (word == "false" || word == "no" || word == "off") return false;
  std::string number;
  AppendNumber(key, key_text, &number);
  double value = 0;
  std::from_chars(number.data(), number.data() + number.size(), value);
  return value != 0;
}

bool IsAutoIncrement(const dao::Field& field) {
  return (field.Attributes() & dao::kFieldAutoIncrement) == dao::kFieldAutoIncrement;
}

// "True" as the platform compares it: a Boolean true, or the number -1.
bool IsTrue(const Variant& value) { return value.IsNumber() && value.AsDouble() == -1.0; }

// The hashes of the keys a merge has added, in a flat open-addressing table
// (8 bytes a key at most half full): a million keys take 16 to 32 MB. Zero
// marks a free slot, so a zero hash is stored as one.
class KeyHashes {
 public:
  void Insert(uint64_t hash) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    if (Place(slots_, Stored(hash))) ++count_;
  }

  bool Contains(uint64_t hash) const {
    if (slots_.empty()) return false;
    hash = Stored(hash);
    for (size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i] == hash) return true;
      if (slots_[i] == 0) return false;
    }
  }

 private:
  static uint64_t Stored(uint64_t hash) { return hash == 0 ? 1 : hash; }

  // False when the hash was there already.
  static bool Place(std::vector<uint64_t>& slots, uint64_t hash) {
    for (size_t i = hash & (slots.size() - 1);; i = (i + 1) & (slots.size() - 1)) {
      if (slots[i] == hash) return false;
      if (slots[i] == 0) {
        slots[i] = hash;
        return true;
      }
    }
  }

  void Grow() {
    std::vector<uint64_t> bigger(slots_.empty() ? 1024 : slots_.size() * 2);
    for (uint64_t hash : slots_)
      if (hash != 0) Place(bigger, hash);
    slots_.swap(bigger);
  }

  std::vector<uint64_t> slots_;
  size_t count_ = 0;
};

// Spreads the bits of a hash over the whole word (the table's slot is taken
// from the low bits).
uint64_t Mixed(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

// A text, ASCII letters without regard to case (the engine's NOCASE).
uint64_t FoldedTextHash(std::string_view text) {
  uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a over the folded bytes
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  }
  return Mixed(hash);
}

// A number as a numeric key column compares it: by value, so 5 and 5.0 are
// one key (two numbers beyond 2^53 may share a hash, which only costs a
// query).
uint64_t NumberKeyHash(double value) {
  if (value == 0) value = 0;  // -0 is 0
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return Mixed(bits);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// SQLite reads a text as a number only when it begins, after its blanks,
// with a digit, a sign or a point.
bool MayReadAsNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  return i < text.size() && (IsDigit(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '.');
}

// The digits of a number's text: how many, and how many of them count (all
// but leading zeros).
struct DigitCount {
  int digits = 0;
  int significant = 0;
};

// Skips the run of digits from `i`, counting them into *count.
size_t SkipDigits(std::string_view text, size_t i, DigitCount* count) {
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    ++count->digits;
    if (text[i] != '0' || count->significant > 0) ++count->significant;
  }
  return i;
}

// The value of a text that is exactly a decimal number (a sign, digits with
// a point, an exponent; no blanks) of at most 15 significant digits, which
// every correct reading, SQLite's included, takes to the same double.
std::optional<double> PlainNumberValue(std::string_view text) {
  size_t i = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  DigitCount mantissa;
  i = SkipDigits(text, i, &mantissa);
  if (i < text.size() && text[i] == '.') i = SkipDigits(text, i + 1, &mantissa);
  if (mantissa.digits == 0 || mantissa.significant > 15) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t first = i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-') ? i + 2 : i + 1;
    DigitCount exponent;
    i = SkipDigits(text, first, &exponent);
    if (exponent.digits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  if (text[0] == '+') text.remove_prefix(1);  // from_chars takes no "+"
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A text key as a Text or Memo key column compares it. A column of text
// affinity compares texts ignoring ASCII letter case; one of numeric affinity
// (a Memo declared "MEMO" alone, in files of earlier versions) stores a text
// that reads as a number as that number, so '00012' and '12' are one key
// there. The hash serves both: a text SQLite may read as a number is hashed
// by its value (texts equal but for letter case have the same value), any
// other text by its folded letters. Empty when the value cannot be told for
// sure (blanks around a number, more digits than a double holds): the key
// query decides.
std::optional<uint64_t> TextKeyHash(std::string_view text) {
  if (!MayReadAsNumber(text)) return FoldedTextHash(text);
  std::optional<double> value = PlainNumberValue(text);
  if (!value) return std::nullopt;
  return NumberKeyHash(*value);
}

bool IsWholeNumberType(int type) {
  return type == dao::kTypeByte || type == dao::kTypeInteger || type == dao::kTypeLong ||
         type == dao::kTypeBigInt;
}

// How often a merge tells the run's progress display how far it got.
constexpr long long kRecordsPerProgress = 1000;

// What one call decides once per column: how the column's values are
// compared, copied and kept.
struct ColumnRule {
  std::string name;           // the target's, as the log lines give it
  bool auto_increment = false;  // the target numbers it: never replaced
  bool skipped_on_add = false;  // ... nor copied into an added record
  bool string_id = false;       // UsesStringIdRule
  bool kept = false;            // config's Configuration "id", the string table's ReplaceRow
  bool kept_if_replace_row = false;  // the string table's GER and ENG
};

// One call of MergeRecords: the two tables, their record sets and whether
// the additions' header has been written.
class RecordMerge {
 public:
  RecordMerge(UpdateContext& context, dao::Database& source_database,
              dao::Database& target_database, dao::TableDef& source_table,
              dao::TableDef& target_table, AutoNumbers numbers)
      : context_(context),
        source_database_(source_database),
        target_database_(target_database),
        T_(source_table.Name()),
        target_name_(target_table.Name()),
        K_(GetKeyFieldName(context, T_)),
        source_is_string_table_(context.CurrentDatabaseFile() == "resource.mdb" &&
                                LowerName(T_) == "stringtable"),
        target_is_string_table_(context.CurrentDatabaseFile() == "resource.mdb" &&
                                LowerName(target_table.Name()) == "stringtable"),
        column_list_(ColumnList(source_table)),
        numbers_(numbers),
        add_record_line_("   ADD RECORD Key=" + K_ + " ") {}

  void Run() {
    std::string target_query = TargetQuery();
    target_set_ = target_database_.OpenRecordset(target_query, dao::kDynaset);
    source_set_ =
        source_database_.OpenRecordset(SourceQuery(), dao::kSnapshot, dao::kReadOnlyOption);
    // The key query is the target query with a condition in place of its ";".
    key_query_prefix_ = target_query.substr(0, target_query.size() - 1) + " WHERE " +
                        Bracketed(K_) + " ";
    DecideColumnRules();
    // A table just made from the source's is empty, so its records need no
    // key to be told apart: a source table without the key field is carried
    // over as it is.
    carries_all_ = numbers_ == AutoNumbers::kKeptFromSource && !FindField(*source_set_, K_);
    target_was_empty_ = target_set_->Eof() && !carries_all_;
    if (!source_set_->Eof()) source_set_->MoveFirst();
    long long records = 0;
    while (!source_set_->Eof()) {
      if (carries_all_) {
        AddNewRecord();
      } else {
        MergeCurrentRecord();
      }
      source_set_->MoveNext();
      if (++records % kRecordsPerProgress == 0) context_.Progress().MergedRecords(T_, records);
    }
    source_set_->Close();
    target_set_->Close();
  }

 private:
  // "[A], [B], [C] ": each name bracketed, a comma after all but the last, a
  // blank after each.
  static std::string ColumnList(dao::TableDef& table) {
    dao::Collection<dao::Field>& fields = table.Fields();
    int count = fields.Count();
    std::string list;
    for (int i = 0; i < count; ++i)
      list += Bracketed(fields.Item(i).Name()) + (i + 1 < count ? ", " : " ");
    return list;
  }

  std::string SourceQuery() const { return "SELECT " + column_list_ + "FROM " + Bracketed(T_) + ";"; }

  // The string table's target query also reads the record's ReplaceRow flag.
  // It names the target table as the target writes it: a table paired
  // through an alias ("privilegies" with "privileges") has another name there.
  std::string TargetQuery() const {
    std::string replace_row = target_is_string_table_ ? ", ReplaceRow " : "";
    return "SELECT " + column_list_ + replace_row + "FROM " + Bracketed(target_name_) + ";";
  }

  // Everything that depends only on the column, for every record of the call.
  // Both sets list the source table's columns in the same order; the key
  // query's set is the target set's query with a condition, so its fields
  // stand where the target set's do.
  void DecideColumnRules() {
    const std::string& file = context_.CurrentDatabaseFile();
    bool configuration = file == "config.mdb" && LowerName(T_) == "configuration";
    dao::Collection<dao::Field>& sources = source_set_->Fields();
    dao::Collection<dao::Field>& targets = target_set_->Fields();
    int count = sources.Count();
    rules_.resize(count);
    for (int i = 0; i < count; ++i) {
      dao::Field& target = targets.Item(i);
      ColumnRule& rule = rules_[i];
      rule.name = target.Name();
      std::string lower = LowerName(rule.name);
      rule.auto_increment = IsAutoIncrement(target);
      rule.skipped_on_add = rule.auto_increment && numbers_ == AutoNumbers::kGivenByTarget;
      rule.string_id = UsesStringIdRule(context_, T_, sources.Item(i));
      rule.kept = (configuration && lower == "id") ||
                  (source_is_string_table_ && lower.find("replacerow") != std::string::npos);
      rule.kept_if_replace_row = source_is_string_table_ && (rule.name == "GER" || rule.name == "ENG");
    }
  }

  void MergeCurrentRecord() {
    std::string key_text = KeyText();
    // The criterion and the key query are put together in strings that keep
    // their room from record to record.
    criterion_.clear();
    AppendCriterion(key_text, &criterion_);
    if (target_was_empty_ && KeyNeverAdded(key_text, criterion_)) {
      AddNewRecord();
      return;
    }
    key_query_.assign(key_query_prefix_).append(criterion_).append(";");
    std::unique_ptr<dao::Recordset> key_set = target_database_.OpenRecordset(key_query_, dao::kDynaset);
    if (key_set->RecordCount() > 0) {
      UpdateExistingRecord(*key_set, key_text);
    } else {
      AddNewRecord();
    }
    key_set->Close();
  }

  static dao::Field* FindField(dao::Recordset& set, const std::string& name) {
    dao::Collection<dao::Field>& fields = set.Fields();
    for (int i = 0; i < fields.Count(); ++i)
      if (dao::SameName(fields.Item(i).Name(), name)) return &fields.Item(i);
    return nullptr;
  }

  // The key field of a set, or 3265 naming the table and the key field it
  // lacks.
  dao::Field& KeyField(dao::Recordset& set, const std::string& table) {
    dao::Field* key = FindField(set, K_);
    if (key == nullptr) throw NoKeyColumn(table, K_);
    return *key;
  }

  // The key fields of both sets, looked up at the first record, so that a
  // table without the key field fails there, before any change; an empty one
  // does not fail.
  dao::Field& SourceKey() {
    if (source_key_ == nullptr) source_key_ = &KeyField(*source_set_, T_);
    return *source_key_;
  }
  dao::Field& TargetKey() {
    if (target_key_ == nullptr) target_key_ = &KeyField(*target_set_, target_name_);
    return *target_key_;
  }

  // The source record's key as text; a numeric string-table key as its
  // five-digit identifier text.
  std::string KeyText() {
    dao::Field& key = SourceKey();
    const Variant& value = key.Value();
    if (source_is_string_table_ && key.Type() != dao::kTypeText)
      return FormatStringId(StringIdNumber(value));
    if (value.IsNull()) throw InvalidUseOfNull();
    return value.ToText();
  }

  // Appends the comparison of the key query that follows the key field's
  // name: "= " and the key as a literal of the key field's kind; for a
  // Boolean key field "<> 0" (True: any number but 0, as the engine reads a
  // Boolean) or "= 0"; for a Decimal or Date/Time Extended key field the
  // text that field stores for the key (at its scale, with 7 digits of the
  // second's fraction).
  void AppendCriterion(const std::string& key_text, std::string* out) {
    int type = TargetKey().Type();
    const Variant& key = SourceKey().Value();
    if (type == dao::kTypeBoolean) {
      out->append(KeyIsTrue(key, key_text) ? "<> 0" : "= 0");
    } else if (type == dao::kTypeDecimal || type == dao::kTypeDateExtended) {
      out->append("= ");
      AppendQuotedText(StoredKeyText(key), out);
    } else if (TakesQuotedKey(type)) {
      out->append("= ");
      AppendQuotedText(key_text, out);
    } else {
      out->append("= ");
      AppendNumber(key, key_text, out);
    }
  }

  // --- a target that was empty when the call began ----------------------------
  //
  // The only records the key query can find there are those this call added.
  // Their keys are remembered as the key column compares them (TextKeyHash;
  // whole numbers by value), as hashes: a key whose hash was never added
  // cannot be there, and needs no query; an equal hash may be a second
  // record with the same key (the first is updated, as the text says) or a
  // collision, and the query tells which. So the shortcut never changes what
  // the merge does, only how many queries it makes. Other key types, a key
  // whose hash cannot be told, and a key the target numbers itself go to the
  // query.

  bool KeyNeverAdded(const std::string& key_text, std::string_view criterion) {
    std::optional<uint64_t> hash = LookupHash(key_text, criterion);
    return hash && !added_keys_.Contains(*hash);
  }

  std::optional<uint64_t> LookupHash(const std::string& key_text, std::string_view criterion) {
    int type = TargetKey().Type();
    if (type == dao::kTypeText || type == dao::kTypeMemo) return TextKeyHash(key_text);
    if (!IsWholeNumberType(type)) return std::nullopt;
    // The criterion of a whole-number key is "= " and its number.
    const char* first = criterion.data() + 2;
    const char* last = criterion.data() + criterion.size();
    double value = 0;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) return std::nullopt;
    return NumberKeyHash(value);
  }

  // The key as the added record stores it (in the set's buffer, before
  // Update). A value the key column would not compare as expected turns the
  // shortcut off for the rest of the call.
  void NoteAddedKey() {
    if (!target_was_empty_) return;
    const Variant& stored = TargetKey().Value();
    int type = TargetKey().Type();
    if ((type == dao::kTypeText || type == dao::kTypeMemo) && stored.IsText()) {
      pending_key_ = TextKeyHash(stored.AsString());
      if (!pending_key_) target_was_empty_ = false;
    } else if (IsWholeNumberType(type) && stored.kind() == Variant::Kind::kInteger) {
      pending_key_ = NumberKeyHash(static_cast<double>(stored.AsInteger()));
    } else {
      target_was_empty_ = false;
    }
  }

  // The key as the target's key field stores it. Raises 3464 for a key that
  // the field cannot hold.
  std::string StoredKeyText(const Variant& key) {
    dao::Field& field = TargetKey();
    dao::ColumnType column{field.Type(), field.Size(), false, field.Precision(), field.Scale()};
    try {
      return dao::ConvertForField(key, column).AsString();
    } catch (const Error&) {
      throw CriteriaTypeMismatch();
    }
  }

  // ---------------------------------------------------------------------------

  void UpdateExistingRecord(dao::Recordset& key_set, const std::string& key_text) {
    key_set.MoveFirst();
    key_set.Edit();
    dao::Collection<dao::Field>& targets = key_set.Fields();
    dao::Collection<dao::Field>& sources = source_set_->Fields();
    int count = static_cast<int>(rules_.size());
    for (int i = 0; i < count; ++i) {
      const ColumnRule& rule = rules_[i];
      if (rule.auto_increment) continue;
      dao::Field& source = sources.Item(i);
      dao::Field& target = targets.Item(i);
      const Variant& source_value = source.Value();
      if (source_value.IsNull()) continue;
      if (FieldValuesEqual(source_value, target.Value(), rule.string_id)) continue;
      if (KeepsTargetValue(key_set, rule)) continue;
      line_.assign("   REPLACE FIELD IN EXISTING RECORD Key=").append(key_text);
      line_.append(" Field=").append(rule.name).append(" ");
      source_value.AppendText(&line_);
      line_.append(" -> ");
      target.Value().AppendText(&line_);
      context_.WriteLog(line_);
      CopyFieldValue(source, target, rule.string_id);
    }
    key_set.Update(dao::kUpdateRegular, false);
  }

  // The values of an existing record that the operator's database keeps.
  static bool KeepsTargetValue(dao::Recordset& key_set, const ColumnRule& rule) {
    if (rule.kept) return true;
    return rule.kept_if_replace_row &&
           IsTrue(key_set.Fields().Item("stringtable.replacerow").Value());
  }

  void AddNewRecord() {
    if (!header_written_) {
      context_.WriteLog(" ADD/REPLACE RECORDS in " + T_);
      header_written_ = true;
    }
    target_set_->AddNew();
    context_.WriteLog(add_record_line_);
    dao::Collection<dao::Field>& targets = target_set_->Fields();
    dao::Collection<dao::Field>& sources = source_set_->Fields();
    int count = static_cast<int>(rules_.size());
    for (int i = 0; i < count; ++i) {
      const ColumnRule& rule = rules_[i];
      // The target numbers an auto-increment field itself, unless the
      // records are carried into a table made for them.
      if (rule.skipped_on_add) continue;
      dao::Field& target = targets.Item(i);
      CopyFieldValue(sources.Item(i), target, rule.string_id);
      line_.assign("   ADD FIELD TO NEW RECORD ").append(rule.name).append(":= ");
      target.Value().AppendText(&line_);
      context_.WriteLog(line_);
    }
    pending_key_.reset();
    NoteAddedKey();
    target_set_->Update(dao::kUpdateRegular, false);
    if (pending_key_) added_keys_.Insert(*pending_key_);
  }

  UpdateContext& context_;
  dao::Database& source_database_;
  dao::Database& target_database_;
  const std::string T_;
  const std::string target_name_;
  const std::string K_;
  const bool source_is_string_table_;
  const bool target_is_string_table_;
  const std::string column_list_;
  const AutoNumbers numbers_;
  std::unique_ptr<dao::Recordset> target_set_;
  std::unique_ptr<dao::Recordset> source_set_;
  std::vector<ColumnRule> rules_;
  dao::Field* source_key_ = nullptr;
  dao::Field* target_key_ = nullptr;
  std::string key_query_prefix_;
  std::string criterion_;
  std::string key_query_;
  bool header_written_ = false;
  bool target_was_empty_ = false;
  bool carries_all_ = false;
  KeyHashes added_keys_;
  std::optional<uint64_t> pending_key_;
  const std::string add_record_line_;
  std::string line_;  // the log line being put together, kept for its room
};

}  // namespace

Error NoKeyColumn(const std::string& table, const std::string& key, const std::string& where) {
  return Error(errors::kItemNotFound,
               "table '" + table + "'" + where + " has no key column '" + key + "'");
}

std::string GetKeyFieldName(const UpdateContext& context, const std::string& tableName) {
  const std::string& file = context.CurrentDatabaseFile();
  std::string table = LowerName(tableName);
  if ((file == "accounting.mdb" || file == "users.mdb") && table == "version") return "DBVersion";
  if (file == "config.mdb" && (table == "layout" || table == "configuration")) return "Label";
  if (file == "config.mdb" && table == "language") return "isocode";
  return "ID";
}

void MergeRecords(UpdateContext& context, dao::Database& sourceDatabase,
                  dao::Database& targetDatabase, dao::TableDef& sourceTable,
                  dao::TableDef& targetTable, AutoNumbers numbers) {
  RecordMerge(context, sourceDatabase, targetDatabase, sourceTable, targetTable, numbers).Run();
}

}  // namespace tabsync::engine
