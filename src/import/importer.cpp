#include "import/importer.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

#include "dbengine/names.h"
#include "import/column_mapping.h"
#include "import/import_errors.h"
#include "import/jet_header.h"
#include "import/mdb_source.h"
#include "import/output_database.h"
#include "import/output_file.h"

namespace tabsync::import {

namespace {

constexpr int64_t kProgressEvery = 4096;

// A column by table and column name, in lower case.
using ColumnId = std::pair<std::string, std::string>;

ColumnId IdOf(const std::string& table, const std::string& column) {
  return {dao::LowerName(table), dao::LowerName(column)};
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

bool LooksLikeWindowsPath(const std::string& path) {
  return path.find('\\') != std::string::npos || (path.size() > 1 && path[1] == ':');
}

std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

// "1 record holds", "2 records hold".
std::string Records(int64_t count, const char* one, const char* more) {
  return std::to_string(count) + (count == 1 ? std::string(" record ") + one : std::string(" records ") + more);
}

// What one attempt at a file found among the records that changes the
// schema of the next attempt.
struct Findings {
  std::set<ColumnId> undecodable;        // with skip_unsupported: left out
  std::set<ColumnId> nulls_in_required;  // declared without NOT NULL
  std::set<std::string> repeated_keys;  // tables (lower case): the key becomes an index
  // Tables (lower case) whose unique indexes are checked after their records.
  std::set<std::string> repeated_unique_values;

  bool Empty() const {
    return undecodable.empty() && nulls_in_required.empty() && repeated_keys.empty() && repeated_unique_values.empty();
  }
  void Add(const Findings& more) {
    undecodable.insert(more.undecodable.begin(), more.undecodable.end());
    nulls_in_required.insert(more.nulls_in_required.begin(), more.nulls_in_required.end());
    repeated_keys.insert(more.repeated_keys.begin(), more.repeated_keys.end());
    repeated_unique_values.insert(more.repeated_unique_values.begin(), more.repeated_unique_values.end());
  }
};

// The records of one frame stream written into the output file.
class Conversion {
 public:
  Conversion(OutputDatabase& output, const ImportOptions& options, ImportReport& report, const Findings& known)
      : output_(output), options_(options), report_(report), known_(known) {}

  void OnFrame(const Frame& frame) {
    switch (frame.tag) {
      case FrameTag::kObject: OnObject(DecodeObject(frame.payload)); break;
      case FrameTag::kLink: OnLink(DecodeLink(frame.payload)); break;
      case FrameTag::kTable: OnTable(DecodeTable(frame.payload)); break;
      case FrameTag::kRows: OnRows(DecodeRowsStart(frame.payload)); break;
      case FrameTag::kRow: OnRow(frame.payload); break;
      case FrameTag::kEnd: OnEnd(); break;
      case FrameTag::kWarning: warnings_.push_back(DecodeFailure(frame.payload)); break;
      default: throw DamagedStream();
    }
  }

  // Raises the refusals of a stream that held no records to reach OnRows.
  void Finish() { ThrowRefusals(); }

  // What this attempt found that the next must know; empty when the output
  // is complete.
  const Findings& found() const { return found_; }
  const std::vector<std::string>& notes() const { return notes_; }
  const std::vector<std::string>& warnings() const { return warnings_; }
  const ImportSummary& summary() const { return summary_; }

 private:
  struct Table {
    OutputTable output;
    std::vector<int> sources;  // the source column of each output column
    std::vector<int64_t> nulls;  // Nulls in each output column that is Required in the source
    std::set<int> omitted;       // source columns whose values are elsewhere or not kept
    bool left_out = false;
    bool broken = false;  // this attempt's output of the table is not kept
  };

  std::string Where(const std::string& table, const std::string& column = "") const {
    return "table " + Quoted(table) + (column.empty() ? "" : ", column " + Quoted(column));
  }

  void OnObject(const SourceObject& object) {
    notes_.push_back("skipped " + object.kind + " " + Quoted(object.name) + " (not converted)");
  }

  void OnLink(const SourceLink& link) {
    if (link.type == dao::kCatalogOdbcLink) {
      // The Connect text may hold a password: it is stored, never shown.
      notes_.push_back("ODBC link " + Quoted(link.name) + " to " + Quoted(link.foreign_name) +
                       " (its connect text is kept as it is)");
      output_.AddCatalogRow(LinkRow(link, ""));
    } else {
      bool mapped = false;
      std::string path = MapPath(LinkedPath(link), options_.path_maps, &mapped);
      if (!mapped && LooksLikeWindowsPath(path))
        warnings_.push_back("link " + Quoted(link.name) + ": no --path-map matches its file " + Quoted(path));
      notes_.push_back("link " + Quoted(link.name) + " to table " + Quoted(link.foreign_name) + " of " + path);
      output_.AddCatalogRow(LinkRow(link, path));
    }
    ++summary_.links;
  }

  void OnTable(SourceTable source) {
    Table table;
    table.output.name = source.name;
    table.output.attributes = TableAttributes(source.flags);
    bool repeated_key = known_.repeated_keys.count(dao::LowerName(source.name));
    if (repeated_key)
      for (SourceIndex& index : source.indexes) index.primary = false;
    for (size_t i = 0; i < source.columns.size(); ++i) PlanOutputColumn(source, static_cast<int>(i), &table);
    for (const SourceIndex& index : source.indexes) PlanOutputIndex(source, index, &table);
    if (table.output.columns.empty()) {
      table.left_out = true;
      warnings_.push_back(Where(source.name) + " left out: no column the format can hold");
    } else if (refusals_.empty()) {
      // A table whose records repeat values of a unique index (the key
      // included) gets its indexes after its records, which checks each.
      bool check_indexes = repeated_key || known_.repeated_unique_values.count(dao::LowerName(source.name));
      output_.CreateTable(table.output, check_indexes);
    }
    tables_.push_back(std::move(table));
  }

  void PlanOutputColumn(const SourceTable& source, int position, Table* table) {
    const SourceColumn& column = source.columns[position];
    ColumnId id = IdOf(source.name, column.name);
    ColumnPlan plan = PlanColumn(column);
    if (known_.undecodable.count(id)) plan.refusal = "text that cannot be decoded";
    if (!plan.refusal.empty()) {
      Error refusal = Unsupported(source.name, column.name, plan.refusal);
      if (!options_.skip_unsupported) {
        refusals_.push_back(refusal.Description());
        return;
      }
      warnings_.push_back(refusal.Description() + "; the column is left out");
      return;
    }
    if (!plan.warning.empty()) warnings_.push_back(Where(source.name, column.name) + ": " + plan.warning);
    if (plan.omitted) {
      table->omitted.insert(position);
      return;
    }
    bool nullable_required = plan.not_null && known_.nulls_in_required.count(id);
    if (nullable_required) plan.not_null = false;
    table->output.columns.push_back({column.name, plan.column, plan.not_null});
    table->sources.push_back(position);
    table->nulls.push_back(nullable_required ? 0 : -1);
  }

  void PlanOutputIndex(const SourceTable& source, const SourceIndex& index, Table* table) {
    if (index.foreign_key) return;  // belongs to a relationship, which is not converted
    if (index.columns.empty()) {
      warnings_.push_back(Where(source.name) + ": index " + Quoted(index.name) + " left out: it has no columns");
      return;
    }
    OutputIndex out{index.name, index.primary, index.unique || index.primary, {}};
    for (int position : index.columns)
      if (table->omitted.count(position)) return;  // Jet's own index of a complex column
    for (int position : index.columns) {
      const std::string& name = source.columns[position].name;
      bool kept = std::find(table->sources.begin(), table->sources.end(), position) != table->sources.end();
      if (!kept) {
        if (refusals_.empty())
          warnings_.push_back(Where(source.name) + ": index " + Quoted(index.name) + " left out with its column " +
                              Quoted(name));
        return;
      }
      out.columns.push_back(name);
    }
    table->output.indexes.push_back(std::move(out));
  }

  void ThrowRefusals() const {
    if (refusals_.empty()) return;
    std::string text;
    for (const std::string& refusal : refusals_) text += (text.empty() ? "" : "\n") + refusal;
    throw Error(errors::kUnsupported, text);
  }

  void OnRows(int index) {
    ThrowRefusals();
    if (index >= static_cast<int>(tables_.size())) throw DamagedStream();
    current_ = &tables_[index];
    records_ = 0;
    if (!current_->left_out) output_.BeginRows(current_->output);
  }

  void OnRow(const std::string& payload) {
    if (!current_) throw DamagedStream();
    if (current_->left_out) return;
    DecodeRow(payload, &source_values_);
    const OutputTable& table = current_->output;
    values_.resize(table.columns.size());
    for (size_t i = 0; i < table.columns.size(); ++i) {
      size_t source = static_cast<size_t>(current_->sources[i]);
      if (source >= source_values_.size()) throw DamagedStream();
      values_[i] = Convert(source_values_[source], table.columns[i]);
      if (values_[i].IsNull()) CountNull(i);
    }
    if (!current_->broken) Insert(table.name);
    if (++records_ % kProgressEvery == 0) report_.Progress(table.name, records_);
  }

  void Insert(const std::string& table) {
    OutputDatabase::Inserted inserted = output_.InsertRow(values_);
    if (inserted == OutputDatabase::Inserted::kYes) return;
    (inserted == OutputDatabase::Inserted::kRepeatsKey ? found_.repeated_keys : found_.repeated_unique_values)
        .insert(dao::LowerName(table));
    current_->broken = true;
  }

  // A Null in a Required column: counted where the column was declared
  // without NOT NULL, otherwise found for the next attempt.
  void CountNull(size_t column) {
    const OutputColumn& output = current_->output.columns[column];
    if (current_->nulls[column] >= 0) {
      ++current_->nulls[column];
    } else if (output.not_null) {
      found_.nulls_in_required.insert(IdOf(current_->output.name, output.name));
      current_->broken = true;
    }
  }

  dao::Variant Convert(const SourceValue& value, const OutputColumn& column) {
    const std::string& table = current_->output.name;
    if (value.kind == ValueKind::kUndecodable && options_.skip_unsupported) {
      // The column goes in the next attempt; this one's output is dropped.
      found_.undecodable.insert(IdOf(table, column.name));
      current_->broken = true;
      return dao::Variant();
    }
    try {
      return ConvertValue(value, column.column);
    } catch (const Error& error) {
      if (error.Number() == errors::kUnsupported) throw Unsupported(table, column.name, error.Description());
      throw Error(error.Number(), Where(table, column.name) + ": " + error.Description());
    }
  }

  void OnEnd() {
    if (!current_) throw DamagedStream();
    if (!current_->left_out && !current_->broken) {
      const std::string& name = current_->output.name;
      for (const BrokenUniqueIndex& index : output_.EndRows())
        warnings_.push_back(Where(name) + ": the unique index " + Quoted(index.name) + " (" + NameList(index.columns) +
                            ") does not hold: " + Records(index.records, "shares its", "share their") +
                            " values with other records; it is written as a plain index");
      for (size_t i = 0; i < current_->nulls.size(); ++i)
        if (current_->nulls[i] > 0)
          warnings_.push_back(Where(name, current_->output.columns[i].name) + ": Required, but " +
                              Records(current_->nulls[i], "holds", "hold") + " no value; declared without NOT NULL");
      notes_.push_back(Where(name) + ": " + std::to_string(records_) + " records");
      report_.Progress(name, records_);
      ++summary_.tables;
      summary_.records += records_;
    }
    current_ = nullptr;
  }

  OutputDatabase& output_;
  const ImportOptions& options_;
  ImportReport& report_;
  const Findings& known_;
  Findings found_;
  std::vector<Table> tables_;
  Table* current_ = nullptr;
  int64_t records_ = 0;
  std::vector<std::string> refusals_;
  std::vector<std::string> notes_;
  std::vector<std::string> warnings_;
  std::vector<SourceValue> source_values_;
  std::vector<dao::Variant> values_;
  ImportSummary summary_;
};

uint64_t FileSize(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) throw FileNotFound(path);
  return static_cast<uint64_t>(info.st_size);
}

// Tells the notes and warnings; returns the count of warnings.
int Tell(const Conversion& conversion, const std::string& diagnostics, ImportReport& report) {
  for (const std::string& note : conversion.notes()) report.Note(note);
  for (const std::string& warning : conversion.warnings()) report.Warning(warning);
  int warnings = static_cast<int>(conversion.warnings().size());
  size_t start = 0;
  while (start < diagnostics.size()) {
    size_t end = diagnostics.find('\n', start);
    if (end == std::string::npos) end = diagnostics.size();
    if (end > start) {
      report.Warning("libmdb: " + diagnostics.substr(start, end - start));
      ++warnings;
    }
    start = end + 1;
  }
  return warnings;
}

}  // namespace

ImportSummary ImportFile(const std::string& source, const std::string& output,
                         const ImportOptions& options, ImportReport& report) {
  CheckSource(source);
  CheckJetHeader(source, options.password);
  CheckOutput(source, output, options.force);
  ReaderLimits limits = options.limits ? *options.limits : LimitsForFile(FileSize(source));
  auto reader = options.reader ? options.reader : ReadMdbFile;
  // Some of what changes a table's schema shows only among its records (a
  // text that cannot be decoded, Nulls in a Required column, a repeated
  // key): the file is then read again with the schema that holds them.
  Findings known;
  while (true) {
    TemporaryOutput temporary(output);
    OutputDatabase database(temporary.path());
    Conversion conversion(database, options, report, known);
    std::string diagnostics = RunGuarded([&](StreamWriter& out) { reader(source, out); }, limits,
                                         [&](const Frame& frame) { conversion.OnFrame(frame); });
    conversion.Finish();
    if (!conversion.found().Empty()) {
      known.Add(conversion.found());
      continue;
    }
    database.Commit();
    temporary.PutInPlace(source, options.force);
    ImportSummary summary = conversion.summary();
    summary.warnings = Tell(conversion, diagnostics, report);
    return summary;
  }
}

std::vector<std::string> DatabaseFilesIn(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) throw FileNotFound(folder);
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) {
    std::string lower = dao::LowerName(entry->d_name);
    auto ends_with = [&](const std::string& suffix) {
      return lower.size() > suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (ends_with(".mdb") || ends_with(".accdb")) names.push_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tabsync::import
