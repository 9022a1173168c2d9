#ifndef TABSYNC_ENGINE_RECORD_MERGE_H_
#define TABSYNC_ENGINE_RECORD_MERGE_H_

#include <string>

#include "dbengine/dao.h"
#include "engine/update_context.h"

namespace tabsync::engine {

// The key field of a table of the database being updated: "DBVersion" for
// "Version" of accounting.mdb and users.mdb, "Label" for "Layout" and
// "Configuration" of config.mdb, "isocode" for "Language" of config.mdb,
// "ID" for every other table (table names in any letter case; the database
// by CurrentDatabaseFile, exactly).
std::string GetKeyFieldName(const UpdateContext& context, const std::string& tableName);

// Carries the records of sourceTable (in sourceDatabase) into targetTable (in
// targetDatabase), matched on the key field, with one key query per source
// record:
// - a source record whose key the target lacks is added with every field
//   that is not auto-increment, logged as " ADD/REPLACE RECORDS in " + T
//   (once per call, before the first addition), "   ADD RECORD Key=" + K + " "
//   and one "   ADD FIELD TO NEW RECORD " + name + ":= " + value per field;
// - otherwise the first target record with that key gets every source value
//   that differs from its own (FieldValuesEqual), except auto-increment
//   fields, "id" of config.mdb's "Configuration", the "ReplaceRow" column of
//   resource.mdb's "StringTable" and that table's "GER" and "ENG" where the
//   record's ReplaceRow is True; each replaced field logs
//   "   REPLACE FIELD IN EXISTING RECORD Key=" + key + " Field=" + name + " " +
//   source value + " -> " + previous value.
// T is sourceTable's name, K = GetKeyFieldName(T). The records of the target
// are read and written under targetTable's own name, which may differ from T
// (a table paired through an alias). Table and column names are written
// into the queries in brackets and a name holding "]" is refused (3125); a
// text key is written as a quoted literal with its quotes doubled, and a key
// for a numeric key field must be a number (3464 otherwise; a Boolean counts
// as -1 or 0). A key for a Boolean key field matches as the engine reads a
// Boolean: True any number but 0 (3464 for a text that is neither a number
// nor a word for True or False). A record is found by the key query alone:
// a target that was empty at the call's start spares the queries for keys it
// cannot hold, and never changes the result by it.
//
// Catches nothing: the first failure ends the call, records saved before it
// stay, a record begun is dropped. Failures the data causes: a table without
// the key field (NoKeyColumn, at the first source record, before any change),
// a source column the target lacks (3061, before any record is read), a Null
// key (94), a string-table key that is negative (5) or outside 16 bits (6).
//
// numbers says whether the target is a table the merge has just created from
// the source's. kGivenByTarget: the target numbers an added record's
// auto-increment fields itself. kKeptFromSource (a new table): the records
// carried into it keep their numbers (and then are logged as fields), and a
// source table without the key field has every record added as it is, since
// the new table is empty and no key is needed to tell its records apart.
enum class AutoNumbers { kGivenByTarget, kKeptFromSource };
// Error 3265 naming a table and the key field it lacks:
// "table '" + table + "'" + where + " has no key column '" + key + "'".
Error NoKeyColumn(const std::string& table, const std::string& key,
                  const std::string& where = "");

void MergeRecords(UpdateContext& context, dao::Database& sourceDatabase,
                  dao::Database& targetDatabase, dao::TableDef& sourceTable,
                  dao::TableDef& targetTable,
                  AutoNumbers numbers = AutoNumbers::kGivenByTarget);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_RECORD_MERGE_H_
