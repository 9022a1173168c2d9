#include "engine/record_merge.h"

#include <charconv>
#include <cmath>
#include <memory>

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

// A text literal that no key can leave: each quote doubled.
std::string QuotedText(const std::string& text) {
  std::string quoted;
  quoted.reserve(text.size() + 8);
  quoted += '\'';
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
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
  return type == dao::kTypeText || type == dao::kTypeMemo || type == dao::kTypeDate;
}

bool IsAutoIncrement(const dao::Field& field) {
  return (field.Attributes() & dao::kFieldAutoIncrement) == dao::kFieldAutoIncrement;
}

// "True" as the platform compares it: a Boolean true, or the number -1.
bool IsTrue(const Variant& value) { return value.IsNumber() && value.AsDouble() == -1.0; }

// How often a merge tells the run's progress display how far it got.
constexpr long long kRecordsPerProgress = 1000;

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
        target_is_string_table_(context.CurrentDatabaseFile() == "resource.mdb" &&
                                LowerName(target_table.Name()) == "stringtable"),
        column_list_(ColumnList(source_table)),
        numbers_(numbers) {}

  void Run() {
    std::string target_query = TargetQuery();
    target_set_ = target_database_.OpenRecordset(target_query, dao::kDynaset);
    source_set_ =
        source_database_.OpenRecordset(SourceQuery(), dao::kSnapshot, dao::kReadOnlyOption);
    // The key query is the target query with a condition in place of its ";".
    key_query_prefix_ = target_query.substr(0, target_query.size() - 1) + " WHERE " +
                        Bracketed(K_) + " = ";
    if (!source_set_->Eof()) source_set_->MoveFirst();
    long long records = 0;
    while (!source_set_->Eof()) {
      MergeCurrentRecord();
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

  void MergeCurrentRecord() {
    std::string key_text = KeyText();
    std::string criterion = Criterion(key_text);
    std::string key_query;
    key_query.reserve(key_query_prefix_.size() + criterion.size() + 1);
    key_query.append(key_query_prefix_).append(criterion).append(";");
    std::unique_ptr<dao::Recordset> key_set = target_database_.OpenRecordset(key_query, dao::kDynaset);
    if (key_set->RecordCount() > 0) {
      UpdateExistingRecord(*key_set, key_text);
    } else {
      AddNewRecord();
    }
    key_set->Close();
  }

  // The source record's key as text; a numeric string-table key as its
  // five-digit identifier text.
  std::string KeyText() {
    dao::Field& key = source_set_->Fields().Item(K_);
    const Variant& value = key.Value();
    if (context_.CurrentDatabaseFile() == "resource.mdb" && LowerName(T_) == "stringtable" &&
        key.Type() != dao::kTypeText)
      return FormatStringId(StringIdNumber(value));
    if (value.IsNull()) throw InvalidUseOfNull();
    return value.ToText();
  }

  std::string Criterion(const std::string& key_text) {
    if (TakesQuotedKey(target_set_->Fields().Item(K_).Type())) return QuotedText(key_text);
    if (IsNumberLiteral(key_text)) return key_text;
    std::string plain = PlainDecimal(key_text);
    if (!IsNumberLiteral(plain)) throw CriteriaTypeMismatch();
    return plain;
  }

  void UpdateExistingRecord(dao::Recordset& key_set, const std::string& key_text) {
    key_set.MoveFirst();
    key_set.Edit();
    int count = source_set_->Fields().Count();
    for (int i = 0; i < count; ++i) {
      dao::Field& target = key_set.Fields().Item(i);
      if (IsAutoIncrement(target)) continue;
      dao::Field& source = source_set_->Fields().Item(i);
      if (FieldValuesEqual(context_, T_, source, target)) continue;
      if (KeepsTargetValue(key_set, target)) continue;
      context_.WriteLog("   REPLACE FIELD IN EXISTING RECORD Key=" + key_text +
                        " Field=" + target.Name() + " " + source.Value().ToText() + " -> " +
                        target.Value().ToText());
      CopyFieldValue(context_, T_, static_cast<int16_t>(i), *source_set_, key_set);
    }
    key_set.Update(dao::kUpdateRegular, false);
  }

  // The values of an existing record that the operator's database keeps.
  bool KeepsTargetValue(dao::Recordset& key_set, const dao::Field& target) {
    const std::string& file = context_.CurrentDatabaseFile();
    std::string table = LowerName(T_);
    std::string name = target.Name();
    if (file == "config.mdb" && table == "configuration" && LowerName(name) == "id") return true;
    if (file != "resource.mdb" || table != "stringtable") return false;
    if (LowerName(name).find("replacerow") != std::string::npos) return true;
    return (name == "GER" || name == "ENG") &&
           IsTrue(key_set.Fields().Item("stringtable.replacerow").Value());
  }

  void AddNewRecord() {
    if (!header_written_) {
      context_.WriteLog(" ADD/REPLACE RECORDS in " + T_);
      header_written_ = true;
    }
    target_set_->AddNew();
    context_.WriteLog("   ADD RECORD Key=" + K_ + " ");
    int count = source_set_->Fields().Count();
    for (int i = 0; i < count; ++i) {
      dao::Field& target = target_set_->Fields().Item(i);
      // The target numbers an auto-increment field itself, unless the
      // records are carried into a table made for them.
      if (IsAutoIncrement(target) && numbers_ == AutoNumbers::kGivenByTarget) continue;
      CopyFieldValue(context_, T_, static_cast<int16_t>(i), *source_set_, *target_set_);
      context_.WriteLog("   ADD FIELD TO NEW RECORD " + target.Name() + ":= " +
                        target.Value().ToText());
    }
    target_set_->Update(dao::kUpdateRegular, false);
  }

  UpdateContext& context_;
  dao::Database& source_database_;
  dao::Database& target_database_;
  const std::string T_;
  const std::string target_name_;
  const std::string K_;
  const bool target_is_string_table_;
  const std::string column_list_;
  const AutoNumbers numbers_;
  std::unique_ptr<dao::Recordset> target_set_;
  std::unique_ptr<dao::Recordset> source_set_;
  std::string key_query_prefix_;
  bool header_written_ = false;
};

}  // namespace

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
