#include "support/odbc_client.h"

#include <sql.h>
#include <sqlext.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "support/private_odbc_folder.h"

namespace tabsync::test {

namespace {

// The driver's messages for a failed call on `handle`.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  SQLCHAR state[8], message[1024];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  for (SQLSMALLINT i = 1; SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message,
                                        &length) == SQL_SUCCESS;
       ++i)
    text += std::string(reinterpret_cast<char*>(state)) + " " +
            reinterpret_cast<char*>(message) + "; ";
  return text;
}

void CheckCall(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
  throw std::runtime_error(what + ": " + Diagnostics(type, handle));
}

// A statement handle for the time of a call.
class Statement {
 public:
  explicit Statement(SQLHDBC connection) {
    CheckCall(SQLAllocHandle(SQL_HANDLE_STMT, connection, &handle_), SQL_HANDLE_DBC, connection,
              "SQLAllocHandle");
  }
  ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  SQLHSTMT get() const { return handle_; }
  void Check(SQLRETURN rc, const std::string& what) const {
    CheckCall(rc, SQL_HANDLE_STMT, handle_, what);
  }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

std::string ColumnText(const Statement& statement, int column) {
  char buffer[512] = "";
  SQLLEN length = 0;
  statement.Check(SQLGetData(statement.get(), column, SQL_C_CHAR, buffer, sizeof buffer, &length),
                  "SQLGetData");
  return length == SQL_NULL_DATA ? "" : buffer;
}

long ColumnNumber(const Statement& statement, int column) {
  SQLINTEGER value = 0;
  SQLLEN length = 0;
  statement.Check(SQLGetData(statement.get(), column, SQL_C_SLONG, &value, 0, &length),
                  "SQLGetData");
  return value;
}

// The C type that ODBC 3 gives a column of this SQL type by default.
std::pair<SQLSMALLINT, const char*> DefaultCType(SQLSMALLINT sql_type, bool is_unsigned) {
  switch (sql_type) {
    case SQL_BIT: return {SQL_C_BIT, "SQL_C_BIT"};
    case SQL_TINYINT:
      return is_unsigned ? std::pair{SQL_C_UTINYINT, "SQL_C_UTINYINT"}
                         : std::pair{SQL_C_STINYINT, "SQL_C_STINYINT"};
    case SQL_SMALLINT:
      return is_unsigned ? std::pair{SQL_C_USHORT, "SQL_C_USHORT"}
                         : std::pair{SQL_C_SSHORT, "SQL_C_SSHORT"};
    case SQL_INTEGER:
      return is_unsigned ? std::pair{SQL_C_ULONG, "SQL_C_ULONG"}
                         : std::pair{SQL_C_SLONG, "SQL_C_SLONG"};
    case SQL_BIGINT:
      return is_unsigned ? std::pair{SQL_C_UBIGINT, "SQL_C_UBIGINT"}
                         : std::pair{SQL_C_SBIGINT, "SQL_C_SBIGINT"};
    case SQL_REAL: return {SQL_C_FLOAT, "SQL_C_FLOAT"};
    case SQL_FLOAT:
    case SQL_DOUBLE: return {SQL_C_DOUBLE, "SQL_C_DOUBLE"};
    case SQL_TYPE_TIMESTAMP: return {SQL_C_TYPE_TIMESTAMP, "SQL_C_TYPE_TIMESTAMP"};
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return {SQL_C_BINARY, "SQL_C_BINARY"};
    default: return {SQL_C_CHAR, "SQL_C_CHAR"};
  }
}

// A character or binary value, read in pieces as long as it is.
std::string LongData(const Statement& statement, int column, SQLSMALLINT c_type, bool* null) {
  std::string value;
  char buffer[4096];
  SQLLEN length = 0;
  SQLRETURN rc;
  while ((rc = SQLGetData(statement.get(), column, c_type, buffer, sizeof buffer, &length)) !=
         SQL_NO_DATA) {
    statement.Check(rc, "SQLGetData");
    if (length == SQL_NULL_DATA) {
      *null = true;
      return "";
    }
    size_t room = sizeof buffer - (c_type == SQL_C_CHAR ? 1 : 0);
    size_t got = length == SQL_NO_TOTAL || static_cast<size_t>(length) > room ? room : length;
    value.append(buffer, got);
    if (rc == SQL_SUCCESS) break;
  }
  return value;
}

std::string Hex(const std::string& bytes) {
  std::string text;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", c);
    text += digits;
  }
  return text;
}

// A number of type T in a fetched buffer, in its shortest decimal form.
template <typename T>
std::string NumberIn(const unsigned char* buffer) {
  T value;
  std::memcpy(&value, buffer, sizeof value);
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, +value).ptr);
}

// A fetched value of a fixed-size C type, as text.
std::string FixedText(SQLSMALLINT c_type, const unsigned char* buffer) {
  switch (c_type) {
    case SQL_C_BIT:
    case SQL_C_UTINYINT: return NumberIn<unsigned char>(buffer);
    case SQL_C_STINYINT: return NumberIn<signed char>(buffer);
    case SQL_C_SSHORT: return NumberIn<SQLSMALLINT>(buffer);
    case SQL_C_USHORT: return NumberIn<SQLUSMALLINT>(buffer);
    case SQL_C_SLONG: return NumberIn<SQLINTEGER>(buffer);
    case SQL_C_ULONG: return NumberIn<SQLUINTEGER>(buffer);
    case SQL_C_SBIGINT: return NumberIn<SQLBIGINT>(buffer);
    case SQL_C_UBIGINT: return NumberIn<SQLUBIGINT>(buffer);
    case SQL_C_FLOAT: return NumberIn<float>(buffer);
    case SQL_C_DOUBLE: return NumberIn<double>(buffer);
    default: {
      SQL_TIMESTAMP_STRUCT t;
      std::memcpy(&t, buffer, sizeof t);
      char text[64];
      std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u.%09u", t.year, t.month, t.day,
                    t.hour, t.minute, t.second, static_cast<unsigned>(t.fraction));
      return text;
    }
  }
}

OdbcClient::Value FetchValue(const Statement& statement, int column, SQLSMALLINT sql_type) {
  SQLLEN is_unsigned = 0;
  SQLColAttribute(statement.get(), column, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &is_unsigned);
  auto [c_type, c_name] = DefaultCType(sql_type, is_unsigned == SQL_TRUE);
  OdbcClient::Value value{c_name, ""};
  bool null = false;
  if (c_type == SQL_C_CHAR || c_type == SQL_C_BINARY) {
    std::string data = LongData(statement, column, c_type, &null);
    value.text = c_type == SQL_C_BINARY ? Hex(data) : data;
  } else {
    alignas(8) unsigned char buffer[64] = {};
    SQLLEN length = 0;
    statement.Check(SQLGetData(statement.get(), column, c_type, buffer, sizeof buffer, &length),
                    "SQLGetData");
    null = length == SQL_NULL_DATA;
    value.text = FixedText(c_type, buffer);
  }
  if (null) value.text = "NULL";
  return value;
}

template <typename T>
OdbcClient::Parameter Param(SQLSMALLINT c_type, SQLSMALLINT sql_type, unsigned long size,
                            int digits, const T& value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return {c_type, sql_type, size, digits, bytes};
}

}  // namespace

OdbcClient::OdbcClient(const std::string& connection) {
  std::ofstream(PrivateOdbcFolder() + "odbcinst.ini", std::ios::trunc)
      << "[SQLite3]\nDriver=libsqlite3odbc.so\n";
  SQLHENV env = SQL_NULL_HENV;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  environment_ = env;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  connection_ = dbc;
  SQLCHAR out[1024];
  SQLSMALLINT out_length = 0;
  CheckCall(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connection.c_str(), SQL_NTS, out,
                             sizeof out, &out_length, SQL_DRIVER_NOPROMPT),
            SQL_HANDLE_DBC, dbc, "connect " + connection);
}

OdbcClient::~OdbcClient() {
  SQLDisconnect(connection_);
  SQLFreeHandle(SQL_HANDLE_DBC, connection_);
  SQLFreeHandle(SQL_HANDLE_ENV, environment_);
}

std::vector<OdbcClient::Column> OdbcClient::Columns(const std::string& table) {
  Statement statement(connection_);
  statement.Check(SQLColumns(statement.get(), nullptr, 0, nullptr, 0, (SQLCHAR*)table.c_str(),
                             SQL_NTS, nullptr, 0),
                  "SQLColumns " + table);
  std::vector<Column> columns;
  while (SQL_SUCCEEDED(SQLFetch(statement.get())))
    columns.push_back({ColumnText(statement, 4), static_cast<int>(ColumnNumber(statement, 5)),
                       ColumnNumber(statement, 7)});
  return columns;
}

std::vector<std::string> OdbcClient::Tables() {
  Statement statement(connection_);
  statement.Check(SQLTables(statement.get(), nullptr, 0, nullptr, 0, nullptr, 0,
                            (SQLCHAR*)"TABLE", SQL_NTS),
                  "SQLTables");
  std::vector<std::string> tables;
  while (SQL_SUCCEEDED(SQLFetch(statement.get()))) tables.push_back(ColumnText(statement, 3));
  return tables;
}

OdbcClient::Result OdbcClient::Query(const std::string& sql) {
  Statement statement(connection_);
  statement.Check(SQLExecDirect(statement.get(), (SQLCHAR*)sql.c_str(), SQL_NTS), sql);
  SQLSMALLINT count = 0;
  SQLNumResultCols(statement.get(), &count);
  Result result;
  for (SQLUSMALLINT i = 1; i <= count; ++i) {
    SQLCHAR name[256];
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    statement.Check(SQLDescribeCol(statement.get(), i, name, sizeof name, &name_length, &type,
                                   &size, &digits, &nullable),
                    "SQLDescribeCol");
    result.columns.push_back({reinterpret_cast<char*>(name), type, static_cast<long>(size)});
  }
  while (SQL_SUCCEEDED(SQLFetch(statement.get()))) {
    std::vector<Value> row;
    for (SQLUSMALLINT i = 1; i <= count; ++i)
      row.push_back(FetchValue(statement, i, static_cast<SQLSMALLINT>(result.columns[i - 1].sql_type)));
    result.rows.push_back(std::move(row));
  }
  return result;
}

OdbcClient::Parameter OdbcClient::Timestamp(int year, int month, int day, int hour, int minute,
                                            int second, unsigned nanoseconds) {
  SQL_TIMESTAMP_STRUCT value{static_cast<SQLSMALLINT>(year),   static_cast<SQLUSMALLINT>(month),
                             static_cast<SQLUSMALLINT>(day),   static_cast<SQLUSMALLINT>(hour),
                             static_cast<SQLUSMALLINT>(minute), static_cast<SQLUSMALLINT>(second),
                             nanoseconds};
  // A timestamp with milliseconds, as applications bind their date-times.
  return Param(SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, value);
}

OdbcClient::Parameter OdbcClient::Decimal(const std::string& digits) {
  return {SQL_C_CHAR, SQL_NUMERIC, digits.size(), 0, digits};
}

OdbcClient::Parameter OdbcClient::Bit(bool value) {
  return Param(SQL_C_BIT, SQL_BIT, 1, 0, static_cast<unsigned char>(value ? 1 : 0));
}

OdbcClient::Parameter OdbcClient::Double(double value) {
  return Param(SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, value);
}

OdbcClient::Parameter OdbcClient::Binary(const std::string& bytes) {
  return {SQL_C_BINARY, SQL_LONGVARBINARY, bytes.size(), 0, bytes};
}

void OdbcClient::Execute(const std::string& sql, const std::vector<Parameter>& parameters) {
  Statement statement(connection_);
  std::vector<Parameter> bound = parameters;
  std::vector<SQLLEN> lengths(bound.size());
  for (size_t i = 0; i < bound.size(); ++i) {
    Parameter& p = bound[i];
    lengths[i] = static_cast<SQLLEN>(p.bytes.size());
    statement.Check(SQLBindParameter(statement.get(), static_cast<SQLUSMALLINT>(i + 1),
                                     SQL_PARAM_INPUT, p.c_type, p.sql_type, p.column_size,
                                     p.decimal_digits, p.bytes.data(),
                                     static_cast<SQLLEN>(p.bytes.size()), &lengths[i]),
                    "SQLBindParameter");
  }
  statement.Check(SQLExecDirect(statement.get(), (SQLCHAR*)sql.c_str(), SQL_NTS), sql);
}

}  // namespace tabsync::test
