#ifndef TABSYNC_TESTS_SUPPORT_ODBC_CLIENT_H_
#define TABSYNC_TESTS_SUPPORT_ODBC_CLIENT_H_

#include <string>
#include <vector>

namespace tabsync::test {

// A client of the databases as the server software is one: unixODBC's driver
// manager with the SQLite3 ODBC driver, in ODBC 3 mode, through the private
// folder of private_odbc_folder.h (whose odbcinst.ini this registers the
// driver "SQLite3" in). Every failure throws std::runtime_error with the
// driver's message.
class OdbcClient {
 public:
  // "DSN=Accounting", or "Driver=SQLite3;Database=<path>".
  explicit OdbcClient(const std::string& connection);
  ~OdbcClient();
  OdbcClient(const OdbcClient&) = delete;
  OdbcClient& operator=(const OdbcClient&) = delete;

  // A column as the driver describes it: its SQL type (SQL_INTEGER, ...) and
  // column size.
  struct Column {
    std::string name;
    int sql_type = 0;
    long size = 0;
  };
  // The columns SQLColumns reports for a table, in order.
  std::vector<Column> Columns(const std::string& table);
  // The tables SQLTables reports.
  std::vector<std::string> Tables();

  // A value fetched as an application fetches it: with the C type that ODBC
  // gives the column's SQL type ("SQL_C_SLONG", "SQL_C_BINARY", ...), and
  // the value in that type written as text (a number, bytes in hex, a
  // timestamp as "YYYY-MM-DD HH:MM:SS.fffffffff"); "NULL" for Null.
  struct Value {
    std::string c_type;
    std::string text;
  };
  struct Result {
    std::vector<Column> columns;  // as SQLDescribeCol describes them
    std::vector<std::vector<Value>> rows;
  };
  Result Query(const std::string& sql);

  // A parameter bound as an application binds a value of its own type.
  struct Parameter {
    int c_type = 0;
    int sql_type = 0;
    unsigned long column_size = 0;
    int decimal_digits = 0;
    std::string bytes;  // the C value's bytes
  };
  static Parameter Timestamp(int year, int month, int day, int hour, int minute, int second,
                             unsigned nanoseconds);
  static Parameter Decimal(const std::string& digits);  // as text, for SQL_NUMERIC
  static Parameter Bit(bool value);
  static Parameter Double(double value);
  static Parameter Binary(const std::string& bytes);
  // Runs a statement with its parameters (marked "?").
  void Execute(const std::string& sql, const std::vector<Parameter>& parameters = {});

 private:
  void* environment_ = nullptr;
  void* connection_ = nullptr;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_ODBC_CLIENT_H_
