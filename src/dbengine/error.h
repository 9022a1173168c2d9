#ifndef TABSYNC_DBENGINE_ERROR_H_
#define TABSYNC_DBENGINE_ERROR_H_

#include <string>

#include "base/error.h"

namespace tabsync {

// The engine's error numbers, with the descriptions the factories below give.
namespace errors {

constexpr int kReserved = 3000;           // an SQLite failure without a number of its own
constexpr int kInvalidArgument = 3001;
constexpr int kTableExists = 3010;
constexpr int kObjectNotFound = 3011;
constexpr int kNoAddNewOrEdit = 3020;
constexpr int kNoCurrentRecord = 3021;
constexpr int kDuplicateValue = 3022;
constexpr int kFileNotFound = 3024;
constexpr int kDiskFull = 3026;
constexpr int kReadOnly = 3027;
constexpr int kFileInUse = 3045;
constexpr int kCannotOpenDatabase = 3049;  // the file alone is torn (kOpenImmutable)
constexpr int kCannotOpen = 3051;
constexpr int kTooFewParameters = 3061;
constexpr int kCannotExecuteSelect = 3065;
constexpr int kSyntaxInExpression = 3075;
constexpr int kInputTableNotFound = 3078;
constexpr int kSyntaxInFrom = 3131;
constexpr int kSyntaxInWhere = 3145;
constexpr int kOdbcCallFailed = 3146;
constexpr int kFieldTooSmall = 3163;
constexpr int kFieldDefinedTwice = 3191;
constexpr int kDatabaseExists = 3204;
constexpr int kInvalidOperation = 3219;
constexpr int kInvalidFieldType = 3259;
constexpr int kNoFieldDefined = 3264;
constexpr int kItemNotFound = 3265;
constexpr int kInvalidName = 3125;
constexpr int kValueRequired = 3314;
constexpr int kNumericOverflow = 3349;
constexpr int kUnrecognizedFormat = 3343;
constexpr int kObjectClosed = 3420;
constexpr int kConversionError = 3421;
constexpr int kCriteriaTypeMismatch = 3464;

}  // namespace errors

Error InvalidArgument();
Error TableExists(const std::string& name);
Error ObjectNotFound(const std::string& name);
Error NoAddNewOrEdit();
Error NoCurrentRecord();
Error DuplicateValue();
Error FileNotFound(const std::string& path);
Error DiskFull();
Error ReadOnly();
Error FileInUse(const std::string& path);
Error TornDatabase(const std::string& path);
Error CannotOpen(const std::string& path);
Error TooFewParameters();
Error CannotExecuteSelect();
Error SyntaxInExpression(const std::string& text);
Error InputTableNotFound(const std::string& name);
Error SyntaxInFrom();
Error SyntaxInWhere();
Error OdbcCallFailed();
Error FieldTooSmall();
Error FieldDefinedTwice();
Error DatabaseExists(const std::string& path);
Error InvalidOperation();
Error InvalidFieldType();
Error NoFieldDefined();
Error ItemNotFound();
Error InvalidName(const std::string& name);
Error ValueRequired(const std::string& table_dot_field);
Error NumericOverflow();
Error UnrecognizedFormat(const std::string& path);
Error ObjectClosed();
Error ConversionError();
Error CriteriaTypeMismatch();

}  // namespace tabsync

#endif  // TABSYNC_DBENGINE_ERROR_H_
