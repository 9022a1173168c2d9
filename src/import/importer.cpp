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

// The records of one frame stream written into the output file.
class Conversion {
 public:
  Conversion(OutputDatabase& output, const ImportOptions& options, ImportReport& report,
             const std::set<ColumnId>& undecodable)
      : output_(output), options_(options), report_(report), known_undecodable_(undecodable) {}

  void OnFrame(const Frame& frame) {
    switch (frame.tag) {
      case FrameTag::kObject: OnObject(DecodeObject(frame.payload)); break;
      case FrameTag::kLink: OnLink(DecodeLink(frame.payload)); break;
      case FrameTag::kTable: OnTable(DecodeTable(frame.payload)); break;
      case FrameTag::kRows: OnRows(DecodeRowsStart(frame.payload)); break;
      case FrameTag::kRow: OnRow(frame.payload); break;
      case FrameTag::kEnd: OnEnd(); break;
      default: throw DamagedStream();
    }
  }

  // Raises the refusals of a stream that held no records to reach OnRows.
  void Finish() { ThrowRefusals(); }

  const std::set<ColumnId>& new_undecodable() const { return new_undecodable_; }
  const std::vector<std::string>& notes() const { return notes_; }
  const std::vector<std::string>& warnings() const { return warnings_; }
  const ImportSummary& summary() const { return summary_; }

 private:
  struct Table {
    OutputTable output;
    std::vector<int> sources;  // the source column of each output column
    bool left_out = false;
  };

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
      std::string path = MapPath(link.database, options_.path_maps, &mapped);
      if (!mapped && LooksLikeWindowsPath(path))
        warnings_.push_back("link " + Quoted(link.name) + ": no --path-map matches its file " + Quoted(path));
      notes_.push_back("link " + Quoted(link.name) + " to table " + Quoted(link.foreign_name) + " of " + path);
      output_.AddCatalogRow(LinkRow(link, path));
    }
    ++summary_.links;
  }

  void OnTable(const SourceTable& source) {
    Table table;
    table.output.name = source.name;
    table.output.attributes = TableAttributes(source.flags);
    for (size_t i = 0; i < source.columns.size(); ++i) PlanOutputColumn(source, static_cast<int>(i), &table);
    for (const SourceIndex& index : source.indexes) PlanOutputIndex(source, index, &table);
    if (table.output.columns.empty()) {
      table.left_out = true;
      warnings_.push_back("table " + Quoted(source.name) + " left out: no column the format can hold");
    } else if (refusals_.empty()) {
      output_.CreateTable(table.output);
    }
    tables_.push_back(std::move(table));
  }

  void PlanOutputColumn(const SourceTable& source, int position, Table* table) {
    const SourceColumn& column = source.columns[position];
    ColumnPlan plan = PlanColumn(column);
    if (known_undecodable_.count(IdOf(source.name, column.name)))
      plan.refusal = "text that libmdb cannot decode";
    if (!plan.refusal.empty()) {
      Error refusal = Unsupported(source.name, column.name, plan.refusal);
      if (!options_.skip_unsupported) {
        refusals_.push_back(refusal.Description());
        return;
      }
      warnings_.push_back(refusal.Description() + "; the column is left out");
      return;
    }
    table->output.columns.push_back({column.name, plan.column, plan.not_null});
    table->sources.push_back(position);
  }

  void PlanOutputIndex(const SourceTable& source, const SourceIndex& index, Table* table) {
    if (index.foreign_key) return;  // belongs to a relationship, which is not converted
    OutputIndex out{index.name, index.primary, index.unique || index.primary, {}};
    for (int position : index.columns) {
      const std::string& name = source.columns[position].name;
      bool kept = std::find(table->sources.begin(), table->sources.end(), position) != table->sources.end();
      if (!kept) {
        if (refusals_.empty())
          warnings_.push_back("table " + Quoted(source.name) + ": index " + Quoted(index.name) +
                              " left out with its column " + Quoted(name));
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
    }
    output_.InsertRow(values_);
    if (++records_ % kProgressEvery == 0) report_.Progress(table.name, records_);
  }

  dao::Variant Convert(const SourceValue& value, const OutputColumn& column) {
    const std::string& table = current_->output.name;
    if (value.kind == ValueKind::kUndecodable && options_.skip_unsupported) {
      // The column goes in the next attempt; this one's output is dropped.
      new_undecodable_.insert(IdOf(table, column.name));
      return dao::Variant();
    }
    try {
      return ConvertValue(value, column.column);
    } catch (const Error& error) {
      if (error.Number() == errors::kUnsupported) throw Unsupported(table, column.name, error.Description());
      throw Error(error.Number(), "table " + Quoted(table) + ", column " + Quoted(column.name) + ": " +
                                      error.Description());
    }
  }

  void OnEnd() {
    if (!current_) throw DamagedStream();
    if (!current_->left_out) {
      notes_.push_back("table " + Quoted(current_->output.name) + ": " + std::to_string(records_) + " records");
      report_.Progress(current_->output.name, records_);
      ++summary_.tables;
      summary_.records += records_;
    }
    current_ = nullptr;
  }

  OutputDatabase& output_;
  const ImportOptions& options_;
  ImportReport& report_;
  const std::set<ColumnId>& known_undecodable_;
  std::set<ColumnId> new_undecodable_;
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

void Tell(const Conversion& conversion, const std::string& diagnostics, ImportReport& report) {
  for (const std::string& note : conversion.notes()) report.Note(note);
  for (const std::string& warning : conversion.warnings()) report.Warning(warning);
  size_t start = 0;
  while (start < diagnostics.size()) {
    size_t end = diagnostics.find('\n', start);
    if (end == std::string::npos) end = diagnostics.size();
    if (end > start) report.Warning("libmdb: " + diagnostics.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

ImportSummary ImportFile(const std::string& source, const std::string& output,
                         const ImportOptions& options, ImportReport& report) {
  CheckSource(source);
  CheckJetHeader(source, options.password);
  CheckOutput(source, output, options.force);
  ReaderLimits limits = options.limits ? *options.limits : LimitsForFile(FileSize(source));
  auto reader = options.reader ? options.reader : ReadMdbFile;
  // A text column that libmdb cannot decode shows only among the records;
  // with skip_unsupported the file is read again without it.
  std::set<ColumnId> undecodable;
  while (true) {
    TemporaryOutput temporary(output);
    OutputDatabase database(temporary.path());
    Conversion conversion(database, options, report, undecodable);
    std::string diagnostics = RunGuarded([&](StreamWriter& out) { reader(source, out); }, limits,
                                         [&](const Frame& frame) { conversion.OnFrame(frame); });
    conversion.Finish();
    if (!conversion.new_undecodable().empty()) {
      undecodable.insert(conversion.new_undecodable().begin(), conversion.new_undecodable().end());
      continue;
    }
    database.Commit();
    temporary.PutInPlace(source, options.force);
    Tell(conversion, diagnostics, report);
    return conversion.summary();
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
