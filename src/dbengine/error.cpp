#include "dbengine/error.h"

namespace tabsync {

Error InvalidArgument() { return Error(errors::kInvalidArgument, "Invalid argument."); }

Error TableExists(const std::string& name) {
  return Error(errors::kTableExists, "Table '" + name + "' already exists.");
}

Error ObjectNotFound(const std::string& name) {
  return Error(errors::kObjectNotFound,
               "The database engine could not find the object '" + name + "'.");
}

Error NoAddNewOrEdit() {
  return Error(errors::kNoAddNewOrEdit, "Update or CancelUpdate without AddNew or Edit.");
}

Error NoCurrentRecord() { return Error(errors::kNoCurrentRecord, "No current record."); }

Error DuplicateValue() {
  return Error(errors::kDuplicateValue,
               "The changes you requested to the table were not successful because they "
               "would create duplicate values in the index, primary key, or relationship.");
}

Error FileNotFound(const std::string& path) {
  return Error(errors::kFileNotFound, "Could not find file '" + path + "'.");
}

Error DiskFull() { return Error(errors::kDiskFull, "Not enough space on disk."); }

Error ReadOnly() {
  return Error(errors::kReadOnly, "Cannot update. Database or object is read-only.");
}

Error FileInUse(const std::string& path) {
  return Error(errors::kFileInUse, "Could not use '" + path + "'; file already in use.");
}

Error TornDatabase(const std::string& path) {
  return Error(errors::kCannotOpenDatabase,
               "Cannot open database '" + path +
                   "' as it lies: a journal or WAL file beside it holds changes it lacks.");
}

Error CannotOpen(const std::string& path) {
  return Error(errors::kCannotOpen,
               "The database engine cannot open the file '" + path +
                   "'. You need permission to use it, or the folder to write in.");
}

Error TooFewParameters() {
  return Error(errors::kTooFewParameters, "Too few parameters. Expected 1.");
}

Error CannotExecuteSelect() {
  return Error(errors::kCannotExecuteSelect, "Cannot execute a select query.");
}

Error SyntaxInExpression(const std::string& text) {
  return Error(errors::kSyntaxInExpression,
               "Syntax error (missing operator) in query expression '" + text + "'.");
}

Error InputTableNotFound(const std::string& name) {
  return Error(errors::kInputTableNotFound,
               "The database engine cannot find the input table or query '" + name + "'.");
}

Error SyntaxInFrom() { return Error(errors::kSyntaxInFrom, "Syntax error in FROM clause."); }

Error SyntaxInWhere() { return Error(errors::kSyntaxInWhere, "Syntax error in WHERE clause."); }

Error OdbcCallFailed() { return Error(errors::kOdbcCallFailed, "ODBC--call failed."); }

Error FieldTooSmall() {
  return Error(errors::kFieldTooSmall,
               "The field is too small to accept the amount of data you attempted to add.");
}

Error FieldDefinedTwice() {
  return Error(errors::kFieldDefinedTwice, "Cannot define field more than once.");
}

Error DatabaseExists(const std::string& path) {
  return Error(errors::kDatabaseExists, "Database '" + path + "' already exists.");
}

Error InvalidOperation() { return Error(errors::kInvalidOperation, "Invalid operation."); }

Error InvalidFieldType() { return Error(errors::kInvalidFieldType, "Invalid field data type."); }

Error NoFieldDefined() {
  return Error(errors::kNoFieldDefined, "No field defined--cannot append TableDef or Index.");
}

Error ItemNotFound() { return Error(errors::kItemNotFound, "Item not found in this collection."); }

Error InvalidName(const std::string& name) {
  return Error(errors::kInvalidName, "'" + name + "' isn't a valid name.");
}

Error ValueRequired(const std::string& table_dot_field) {
  return Error(errors::kValueRequired,
               "You must enter a value in the '" + table_dot_field + "' field.");
}

Error NumericOverflow() { return Error(errors::kNumericOverflow, "Numeric field overflow."); }

Error UnrecognizedFormat(const std::string& path) {
  return Error(errors::kUnrecognizedFormat, "Unrecognized database format '" + path + "'.");
}

Error ObjectClosed() {
  return Error(errors::kObjectClosed, "Object invalid or no longer set.");
}

Error ConversionError() { return Error(errors::kConversionError, "Data type conversion error."); }

Error CriteriaTypeMismatch() {
  return Error(errors::kCriteriaTypeMismatch, "Data type mismatch in criteria expression.");
}

}  // namespace tabsync
