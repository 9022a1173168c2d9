#ifndef TABSYNC_DBENGINE_DAO_H_
#define TABSYNC_DBENGINE_DAO_H_

// The database engine as the update logic sees it: an object model shaped
// after DAO (engine, databases, table definitions, fields, indexes, record
// sets). The logic is written against these interfaces only; the SQLite
// implementation lives in sqlite_engine.h. Every failing operation raises
// tabsync::Error (dbengine/error.h) with the engine's number and description.

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/variant.h"

namespace tabsync::dao {

// Field type codes (Field::Type).
constexpr int kTypeBoolean = 1;
constexpr int kTypeByte = 2;
constexpr int kTypeInteger = 3;
constexpr int kTypeLong = 4;
constexpr int kTypeCurrency = 5;
constexpr int kTypeSingle = 6;
constexpr int kTypeDouble = 7;
constexpr int kTypeDate = 8;
constexpr int kTypeText = 10;
constexpr int kTypeLongBinary = 11;
constexpr int kTypeMemo = 12;
constexpr int kTypeBigInt = 16;    // Large Number: a signed 64-bit whole number
constexpr int kTypeDecimal = 20;   // an exact decimal of a precision and scale
constexpr int kTypeDateExtended = 23;  // Date/Time Extended: to 100 ns, years 1 to 9999

// Field attribute bits (Field::Attributes).
constexpr int kFieldFixed = 1;
constexpr int kFieldVariable = 2;
constexpr int kFieldAutoIncrement = 16;
constexpr int kFieldUpdatable = 32;

// Table attribute bits (TableDef::Attributes).
constexpr int32_t kTableHidden = 1;
constexpr int32_t kTableSystemObject = static_cast<int32_t>(0x80000002u);
constexpr int32_t kTableAttachExclusive = 0x00010000;
constexpr int32_t kTableAttachSavePassword = 0x00020000;
constexpr int32_t kTableAttached = 0x40000000;
constexpr int32_t kTableAttachedOdbc = 0x20000000;

// The version of the database file format that the engine writes
// (docs/database-format.md). Version 1 is the format of files that store no
// version; each later version is stored in the file.
constexpr int kFormatVersion = 2;
constexpr int kFirstFormatVersion = 1;

// OpenDatabase options: any non-zero value other than kOpenImmutable opens
// exclusively.
// An exclusive open that may write puts a file in WAL mode back to the
// rollback journal, the format's (database-format.md), first copying what
// its -wal holds into it.
constexpr int kOpenExclusive = 1;
// Opens exclusively and keeps the session's changes to itself: they serve its
// later operations and are dropped at Close, so the file is only read.
constexpr int kOpenDiscardChanges = 2;
// Reads the file as the image it is, for a file no program changes (the
// update information): only read, never locked or rolled back, and nothing
// is made beside it (no journal, no -wal or -shm file, also for a file in
// WAL mode), so that its folder stays as it was. A change raises 3027. A
// journal beside the file that a writer left in the middle of its commit, or
// a -wal file holding changes, means the file alone is torn: the open raises
// 3049. Not exclusive.
constexpr int kOpenImmutable = 4;
// Record-set types and options.
constexpr int kDynaset = 2;
constexpr int kSnapshot = 4;
constexpr int kReadOnlyOption = 4;
// Execute option: fail on error, nothing applied on failure.
constexpr int kFailOnError = 128;
// Update type: the regular update.
constexpr int kUpdateRegular = 1;

// A collection of engine objects: TableDefs, Fields, Indexes. Items are owned
// by the collection; a reference stays valid as long as the database object it
// belongs to (a renamed item stays the same object).
template <typename T>
class Collection {
 public:
  virtual ~Collection() = default;

  virtual int Count() const = 0;
  // Item by position from 0. Raises 3265 when out of range.
  virtual T& Item(int index) = 0;
  // Item by name, ignoring letter case. Raises 3265 when there is none.
  virtual T& Item(const std::string& name) = 0;
  // Adds a new object made by the matching Create call. What appending stores
  // (a table, a column, an index) is said at the owner's interface.
  virtual void Append(std::shared_ptr<T> item) = 0;
};

class Field {
 public:
  virtual ~Field() = default;

  virtual std::string Name() const = 0;
  // On a field of a stored table, renames the column: 3191 when another column
  // has that name (ignoring case); a change of letter case alone works. On a
  // field not yet appended, only the name changes.
  virtual void SetName(const std::string& name) = 0;
  // Field type code (kType...).
  virtual int Type() const = 0;
  // Size in characters for Text; fixed byte size for numbers (16 for a
  // Decimal, 42 for a Date/Time Extended); 0 for Memo and binary fields.
  virtual int Size() const = 0;
  // A Decimal's number of digits (1 to 57) and how many of them follow the
  // point (0 to the precision); 0 for every other type.
  virtual int Precision() const = 0;
  virtual int Scale() const = 0;
  // Attribute bits (kField...).
  virtual int Attributes() const = 0;
  // Only on a field not yet appended: accepts the bits 1, 2, 32 and 16 (16 only
  // on a Long field, which makes it an auto-increment COUNTER). Other bits
  // raise 3001; on a stored field raises 3219.
  virtual void SetAttributes(int attributes) = 0;

  // Record-set fields only (3219 on a table or index field). Reading at the
  // end of the set raises 3021. The value is the record set's own: it stays
  // valid until the set moves, writes or drops a record, or closes.
  virtual const Variant& Value() const = 0;
  // Record-set fields only, during AddNew or Edit (3020 otherwise; 3027 on a
  // read-only set). Converts to the field's type: a text holding a number
  // goes into a numeric field as that number, a text that is not one raises
  // 3421, a text longer than a Text field's size raises 3163, a number
  // written into a Text field becomes its text form.
  virtual void SetValue(const Variant& value) = 0;
};

class Index {
 public:
  virtual ~Index() = default;

  virtual std::string Name() const = 0;
  virtual bool Primary() const = 0;
  virtual void SetPrimary(bool primary) = 0;  // index not yet appended only
  virtual bool Unique() const = 0;
  virtual void SetUnique(bool unique) = 0;  // index not yet appended only
  // The index's fields in key order. Append takes fields from CreateField.
  virtual Collection<Field>& Fields() = 0;
  virtual std::shared_ptr<Field> CreateField(const std::string& name, int type = 0,
                                             int size = 0) = 0;
};

class TableDef {
 public:
  virtual ~TableDef() = default;

  virtual std::string Name() const = 0;
  // On a stored table, renames it: 3010 when another table has that name
  // (ignoring case); a change of letter case alone works.
  virtual void SetName(const std::string& name) = 0;
  // Table attribute bits (kTable...).
  virtual int32_t Attributes() const = 0;
  // ";DATABASE=<path>" for a table linked to another database file,
  // "ODBC;..." for an ODBC-linked one, empty for a local table.
  virtual std::string Connect() const = 0;
  // Linked tables only (3219 on a stored local table): the new connect string
  // is kept; nothing is checked until RefreshLink.
  virtual void SetConnect(const std::string& connect) = 0;
  // The table's name in the linked database; empty for a local table.
  virtual std::string SourceTableName() const = 0;
  // Checks the link: 3024 when the linked file is missing, 3343 when it is no
  // database, 3011 when it lacks the source table.
  virtual void RefreshLink() = 0;

  // Fields in column order. Append on a stored table adds the column (3191
  // when a column of that name exists, ignoring case); on a table not yet
  // appended, the field is stored with the table.
  virtual Collection<Field>& Fields() = 0;
  // The primary key appears as one index named "PrimaryKey". Append on a table
  // not yet appended stores the index with the table.
  virtual Collection<Index>& Indexes() = 0;
  // A new field, not yet part of the table. Size matters only for Text
  // (1 to 255; 0 means 255), precision and scale only for Decimal (precision
  // 1 to 57, 0 means 18; scale 0 to the precision); 3001 for others.
  virtual std::shared_ptr<Field> CreateField(const std::string& name, int type, int size = 0,
                                             int precision = 0, int scale = 0) = 0;
  virtual std::shared_ptr<Index> CreateIndex(const std::string& name) = 0;
};

class Recordset {
 public:
  virtual ~Recordset() = default;

  // 0 right after opening exactly when nothing matched; otherwise the number
  // of records visited so far (at least 1), plus records added through it.
  virtual int RecordCount() const = 0;
  // True when there is no current record (past the last, or nothing matched).
  // Named for the DAO property EOF, which is a macro of the C library.
  virtual bool Eof() const = 0;
  virtual void MoveFirst() = 0;  // 3021 on an empty set
  virtual void MoveNext() = 0;   // 3021 at the end
  // The columns of the query, in its order. Item by name also takes
  // table + "." + column in any letter case; with a column listed twice, a
  // name gives the first.
  virtual Collection<Field>& Fields() = 0;
  // Start a new record / edit the current one (3027 on a snapshot or a
  // read-only set; Edit at the end raises 3021).
  virtual void AddNew() = 0;
  virtual void Edit() = 0;
  // Writes the new or changed record (3020 without AddNew or Edit). Engine
  // errors of the write: 3022 duplicate key, 3314 missing required value.
  virtual void Update(int type = kUpdateRegular, bool force = false) = 0;
  virtual void Close() = 0;
};

class Database {
 public:
  virtual ~Database() = default;

  // The tables, enumerated by name ignoring letter case. Append takes a
  // table from CreateTableDef and stores it with its fields and indexes, all
  // at once (3010 when the name is in use).
  virtual Collection<TableDef>& TableDefs() = 0;
  // A new local table, built in memory until appended.
  virtual std::shared_ptr<TableDef> CreateTableDef(const std::string& name) = 0;
  // A table with extra attributes (hidden, system) or, with a connect string,
  // a table linked to source_table_name of another database.
  virtual std::shared_ptr<TableDef> CreateTableDef(const std::string& name, int32_t attributes,
                                                   const std::string& source_table_name,
                                                   const std::string& connect) = 0;
  // A record set over a SELECT statement; type kDynaset (updatable) or
  // kSnapshot; options kReadOnlyOption makes it read-only.
  virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& sql, int type = kDynaset,
                                                   int options = 0) = 0;
  // Runs a DELETE statement, all or nothing.
  virtual void Execute(const std::string& sql, int options = 0) = 0;
  // Reads every page of the file and checks its structure (SQLite's
  // quick_check): "" when it is sound, otherwise the first problem found, on
  // one line. Raises 3420 when closed, the engine's errors when the file
  // cannot be read at all.
  virtual std::string QuickCheck() = 0;
  // The format version of the database file: the one it stores, 1 for a file
  // that stores none. Tables and columns that the session creates are
  // declared as this version declares them.
  virtual int FormatVersion() = 0;
  // Brings a database of an older format version to kFormatVersion, as a
  // change of this session that reaches the file with its commit: every
  // column with an older declaration of the engine gets the current one,
  // keeping its values, the tables' indexes, keys and letter-case rules, and
  // the catalogue's rows; the file then stores kFormatVersion. All or
  // nothing: a failure leaves the session's database as it was. Does nothing
  // on a database of kFormatVersion or later. Raises 3027 on a read-only
  // session that has something to change.
  virtual void UpgradeFormat() = 0;
  // Ends the session: its changes reach the file as one commit. Later use of
  // the database or its objects raises 3420.
  virtual void Close() = 0;
};

class DatabaseEngine {
 public:
  virtual ~DatabaseEngine() = default;

  // Opens a database file; a non-zero options opens it exclusively
  // (kOpenDiscardChanges, kOpenImmutable: see there). With readOnly the
  // session only reads: a change raises 3027, and the file, its folder and its
  // lock are never written, so a file on read-only media opens (a file in WAL
  // mode still gets its -wal and -shm files where the folder may be written).
  // Raises 3024 when the file is missing, 3343 when it is no database (also
  // anything but a regular file or a link to one: a FIFO or a device is never
  // opened), 3045 when the file is in use in a way that refuses this open.
  virtual std::unique_ptr<Database> OpenDatabase(const std::string& path, int options = 0,
                                                 bool readOnly = false) = 0;
  // Creates a new, empty database file of the given format version (1 to
  // kFormatVersion; older versions serve tests of the upgrade) and opens it
  // exclusively. Raises 3204 when the file exists, 3001 for a version
  // outside that range.
  virtual std::unique_ptr<Database> CreateDatabase(const std::string& path,
                                                   int formatVersion = kFormatVersion) = 0;
};

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_DAO_H_
