#ifndef TABSYNC_ENGINE_TABLE_MERGE_H_
#define TABSYNC_ENGINE_TABLE_MERGE_H_

#include <string>

#include "dbengine/dao.h"
#include "engine/update_context.h"

namespace tabsync::engine {

// True when some table of the database has that name, ignoring letter case.
bool TableExists(dao::Database& database, const std::string& tableName);

// The attribute words of a table: "+ACCESS_SYS" for a name that begins with
// "MSys" (exactly that letter case); otherwise, in this order, one word for
// each attribute flag whose bits are all set: " +ATTACH_EXCLUSIVE",
// " +ATTACH_SAVE_PWD", " +SYSTEM_OBJECT", " +HIDDEN_OBJECT",
// " +ATTACHED_TABLE", " +ATTACHED_ODBC". Empty for a plain table.
std::string TableAttributeText(dao::TableDef& table);

// Points a linked table at "resource.mdb" in the folder of the "Resource"
// data source: its connect string becomes ";DATABASE=" + folder +
// "resource.mdb" (a folder ending in "//" loses one "/"), whatever it held
// before, and the link is checked (RefreshLink). The lookup's result is not
// looked at: an unregistered data source gives the folder "/". Engine
// errors pass to the caller.
void RelinkToResource(UpdateContext& context, dao::TableDef& table);

// Brings the table tableName of the update information into the database in
// use: creates it there (AddTable) when missing, then merges its records
// (MergeRecords, source UpdateInfoDatabase); the records of a table created
// here keep their auto-increment numbers. Does nothing when the update
// information has no such table. Once the table is found, any failure ends
// the call quietly: nothing logged, ErrorsDetected untouched, changes made
// before it kept. Failures while looking for the table pass to the caller.
void MergeTable(UpdateContext& context, const std::string& tableName);

// Merges the whole database in use into the update information, in three
// passes:
// 1. the plain tables of ExistingDatabase are listed, in the engine's order;
// 2. each table of UpdateInfoDatabase is, by its attribute text: relinked to
//    the installed resource database when linked (logged as
//    " Table " + name + " Type " + text + ": LINK REPLACE into: " + connect),
//    listed when plain, passed over when "+ACCESS_SYS", and otherwise logged
//    as " Table " + name + " Type " + text + ": IGNORED";
// 3. each listed existing table other than "version" (any letter case) gets
//    its missing columns added to the first listed update-information table
//    that IsSameTable pairs with it (AddColumns), or, with none, is created
//    there (" INSERT Table: " + name, then AddTable); then its records are
//    merged into that table (MergeRecords, source ExistingDatabase). The
//    records of a table created there keep their auto-increment numbers,
//    and are carried over all as they are when it has no key column. A
//    paired update-information table without the key column that the
//    existing table has raises NoKeyColumn (with " of the update
//    information") before its columns are added.
// The lists have no limit. Catches nothing: the first failure ends the merge
// and passes to the caller; changes made before it stay.
void MergeAllTables(UpdateContext& context);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_TABLE_MERGE_H_
