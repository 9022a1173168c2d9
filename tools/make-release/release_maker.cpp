#include "make-release/release_maker.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "dbengine/error.h"
#include "dbengine/variant.h"

namespace tabsync::release {

namespace {

using dao::Variant;
using Row = std::vector<Variant>;

const char* const kDatabaseFiles[] = {"accounting.mdb", "availability.mdb", "config.mdb",
                                      "onlineshop.mdb", "resource.mdb",     "users.mdb"};

// Which release a database belongs to, where both share a table's shape.
enum class Side { kInstalled, kUpdate };

// ---- Arguments --------------------------------------------------------------

Error BadArgument(const std::string& what) {
  return Error(errors::kInvalidArgument, "Invalid argument: " + what + ".");
}

std::string WithSlash(const std::string& folder) {
  return folder.ends_with('/') ? folder : folder + "/";
}

// Everything is checked before the first file is created, so that a bad call
// leaves both folders as they were.
void CheckArguments(const std::string& installed, const std::string& update, int size,
                    int formatVersion) {
  if (size < 1 || size > kMaxReleaseSize)
    throw BadArgument("release size " + std::to_string(size) + " is outside 1 to " +
                      std::to_string(kMaxReleaseSize));
  if (formatVersion < dao::kFirstFormatVersion || formatVersion > dao::kFormatVersion)
    throw BadArgument("format version " + std::to_string(formatVersion) + " is outside " +
                      std::to_string(dao::kFirstFormatVersion) + " to " +
                      std::to_string(dao::kFormatVersion));
  if (!installed.starts_with('/'))
    throw BadArgument("the installed folder '" + installed + "' is no absolute path");
  for (const std::string& folder : {installed, update}) {
    std::error_code ignored;  // a folder that cannot be examined is as good as missing
    if (!std::filesystem::is_directory(folder, ignored)) throw FileNotFound(folder);
  }
  for (const std::string& folder : {installed, update}) {
    for (const char* file : kDatabaseFiles) {
      std::error_code ignored;  // an unreadable entry is left to CreateDatabase to refuse
      if (std::filesystem::exists(folder + file, ignored)) throw DatabaseExists(folder + file);
    }
  }
}

// ---- Tables -----------------------------------------------------------------

struct Column {
  std::string name;
  int type = 0;
  int size = 0;  // Text only
  bool counter = false;
};

Column Counter(std::string name) { return {std::move(name), dao::kTypeLong, 0, true}; }
Column Long(std::string name) { return {std::move(name), dao::kTypeLong}; }
Column Short(std::string name) { return {std::move(name), dao::kTypeInteger}; }
Column Text(std::string name, int size) { return {std::move(name), dao::kTypeText, size}; }
Column Bit(std::string name) { return {std::move(name), dao::kTypeBoolean}; }
Column Double(std::string name) { return {std::move(name), dao::kTypeDouble}; }
Column Currency(std::string name) { return {std::move(name), dao::kTypeCurrency}; }
Column DateTime(std::string name) { return {std::move(name), dao::kTypeDate}; }
Column Memo(std::string name) { return {std::move(name), dao::kTypeMemo}; }

std::shared_ptr<dao::Index> PrimaryKey(dao::TableDef& table, const std::vector<std::string>& key) {
  std::shared_ptr<dao::Index> index = table.CreateIndex("PrimaryKey");
  index->SetPrimary(true);
  index->SetUnique(true);
  for (const std::string& name : key) index->Fields().Append(index->CreateField(name));
  return index;
}

// A local table with these fields in this order and the primary key `key`
// (none when empty). The engine stores it, key included, in one Append.
void CreateTable(dao::Database& db, const std::string& name, const std::vector<Column>& columns,
                 const std::vector<std::string>& key, int32_t attributes = 0) {
  std::shared_ptr<dao::TableDef> table = db.CreateTableDef(name, attributes, "", "");
  for (const Column& column : columns) {
    std::shared_ptr<dao::Field> field = table->CreateField(column.name, column.type, column.size);
    if (column.counter) field->SetAttributes(field->Attributes() | dao::kFieldAutoIncrement);
    table->Fields().Append(field);
  }
  if (!key.empty()) table->Indexes().Append(PrimaryKey(*table, key));
  db.TableDefs().Append(table);
}

// A link is only recorded; the engine checks it when asked to, so it may name
// a file that does not exist (yet).
void CreateLink(dao::Database& db, const std::string& name, const std::string& sourceTable,
                const std::string& connect, int32_t attributes) {
  db.TableDefs().Append(db.CreateTableDef(name, attributes, sourceTable, connect));
}

void CreateVersionTable(dao::Database& db) {
  CreateTable(db, "Version",
              {Text("DBVersion", 20), DateTime("ReleaseDate"), Text("Description", 100)},
              {"DBVersion"});
}

// ---- Records ----------------------------------------------------------------

// Adds records to one table through a single dynaset: a record set per record
// would plan its query and look up its statement anew each time. A row gives
// the values of the first columns in table order; the rest stay Null.
class RowWriter {
 public:
  RowWriter(dao::Database& db, const std::string& table)
      : records_(db.OpenRecordset("SELECT * FROM " + table, dao::kDynaset)) {}
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  void Add(const Row& values) {
    records_->AddNew();
    dao::Collection<dao::Field>& fields = records_->Fields();
    for (size_t i = 0; i < values.size(); ++i)
      fields.Item(static_cast<int>(i)).SetValue(values[i]);
    records_->Update();
  }

 private:
  std::unique_ptr<dao::Recordset> records_;
};

void AddRows(dao::Database& db, const std::string& table, const std::vector<Row>& rows) {
  RowWriter writer(db, table);
  for (const Row& row : rows) writer.Add(row);
}

// Rows 1 to count, each made from its number.
void AddGeneratedRows(dao::Database& db, const std::string& table, int count,
                      const std::function<Row(int)>& makeRow) {
  RowWriter writer(db, table);
  for (int i = 1; i <= count; ++i) writer.Add(makeRow(i));
}

// ---- Values -----------------------------------------------------------------

std::string Format(const char* format, int64_t number) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<long long>(number));
  return text;
}

std::string DateText(std::chrono::sys_seconds time) {
  using namespace std::chrono;
  sys_days day = floor<days>(time);
  year_month_day date(day);
  hh_mm_ss clock(time - day);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

// Generated record i is dated 2025-01-06 08:00:00 + i * 97 s (+ `later`).
// sys_seconds count without a time zone, so the text is the same anywhere.
Variant RowDate(int i, int later = 0) {
  using namespace std::chrono;
  constexpr sys_days kBaseDay = year(2025) / January / 6;
  sys_seconds time = kBaseDay + hours(8) + seconds(int64_t{i} * 97 + later);
  return Variant::Date(DateText(time));
}

Variant Day(const std::string& date) { return Variant::Date(date + " 00:00:00"); }

const Variant kNull;

int UserCount(int size) { return std::max(3, size); }

const char* const kStations[] = {"RS01", "RS02", "RS03", "RS04", "RS05"};
const char* Station(int i) { return kStations[(i - 1) % 5]; }

// ---- accounting.mdb ---------------------------------------------------------

void CreateTariffs(dao::Database& db) {
  CreateTable(db, "Tariffs", {Long("ID"), Text("Name", 50), Currency("PricePerHour")}, {"ID"});
}

Row ActionRow(int i, int users) {
  static const char* const kActions[] = {"Login", "Download RINEX", "Stream RTCM", "Logout"};
  static const int kIntervals[] = {1, 5, 15, 30};
  int k = i - 1;
  return {i, 1 + k % users, Station(i), kActions[k % 4], kIntervals[k % 4], RowDate(i)};
}

void WriteInstalledAccounting(dao::Database& db, int size) {
  CreateTable(db, "Actions",
              {Counter("ID"), Long("UserID"), Text("Station", 10), Text("Action", 50),
               Long("Interval"), DateTime("Date/Time")},
              {"ID"});
  int users = UserCount(size);
  AddGeneratedRows(db, "Actions", 10 * size, [users](int i) { return ActionRow(i, users); });
  CreateTariffs(db);
  AddRows(db, "Tariffs", {{1, "Basic", 2.5}, {2, "Professional", 7.5}, {3, "Campus", 0}});
}

void WriteUpdateAccounting(dao::Database& db) {
  CreateTable(db, "Actions",
              {Counter("ID"), Long("UserID"), Text("Station", 10), Text("Action", 50),
               Long("ObsInterval"), DateTime("ActionTime"), Text("UserName", 50)},
              {"ID"});
  CreateTariffs(db);
  AddRows(db, "Tariffs", {{1, "Basic", 3}, {2, "Professional", 8}});
  CreateVersionTable(db);
  AddRows(db, "Version",
          {{"3.2.0", Day("2025-06-02"), "Accounting by observation interval"},
           {"3.3.0", Day("2026-11-16"), "User name in actions"}});
}

// ---- availability.mdb -------------------------------------------------------

constexpr int kCutoffAngles = 18;  // 0, 5, ..., 85 degrees

std::string CutoffName(int angle, Side side) {
  if (side == Side::kUpdate) return "Cutoff_" + std::to_string(angle);
  return "Cutoff " + std::to_string(angle) + "\xC2\xB0";  // U+00B0, no blank before it
}

void CreateAvailabilityTables(dao::Database& db, Side side) {
  bool renamed = side == Side::kUpdate;
  std::string from = renamed ? "StartTime" : "From";
  std::string to = renamed ? "EndTime" : "To";
  CreateTable(db, "Availability",
              {Counter("ID"), Text("Station", 10), DateTime(renamed ? "ReferenceDate" : "Date"),
               Double("Percent")},
              {"ID"});
  CreateTable(db, "EpochDefect", {Counter("ID"), Text("Station", 10), DateTime(from), DateTime(to)},
              {"ID"});
  CreateTable(db, "SatelliteDefect",
              {Counter("ID"), Text("Satellite", 4), DateTime(from), DateTime(to)}, {"ID"});
  std::vector<Column> visible = {Counter("ID"), Text("Station", 10),
                                 DateTime(renamed ? "ReferenceTime" : "Time")};
  for (int a = 0; a < kCutoffAngles; ++a) visible.push_back(Short(CutoffName(5 * a, side)));
  CreateTable(db, "VisibleSatellites", visible, {"ID"});
}

// A defect lasts one to ten minutes.
int DefectSeconds(int i) { return 60 * (1 + i % 10); }

Row VisibleSatellitesRow(int i) {
  Row row = {i, Station(i), RowDate(i)};
  // Fewer satellites stand above a higher cut-off angle.
  for (int a = 0; a < kCutoffAngles; ++a) row.push_back(kCutoffAngles - a + i % 7);
  return row;
}

void AddAvailabilityRecords(dao::Database& db, int size) {
  AddGeneratedRows(db, "Availability", size, [](int i) -> Row {
    return {i, Station(i), RowDate(i), 90.0 + (i * 37 % 1000) / 100.0};
  });
  AddGeneratedRows(db, "EpochDefect", size, [](int i) -> Row {
    return {i, Station(i), RowDate(i), RowDate(i, DefectSeconds(i))};
  });
  AddGeneratedRows(db, "SatelliteDefect", size, [](int i) -> Row {
    return {i, Format("G%02lld", 1 + (i - 1) % 32), RowDate(i), RowDate(i, DefectSeconds(i))};
  });
  AddGeneratedRows(db, "VisibleSatellites", size, VisibleSatellitesRow);
}

void WriteInstalledAvailability(dao::Database& db, int size) {
  CreateAvailabilityTables(db, Side::kInstalled);
  AddAvailabilityRecords(db, size);
}

void WriteUpdateAvailability(dao::Database& db) { CreateAvailabilityTables(db, Side::kUpdate); }

// ---- config.mdb -------------------------------------------------------------

void CreateLayout(dao::Database& db) {
  CreateTable(db, "Layout", {Text("Label", 50), Long("id"), Short("Width"), Bit("Visible")},
              {"Label"});
}

void CreateLanguage(dao::Database& db) {
  CreateTable(db, "Language", {Text("isocode", 5), Text("Name", 50), Bit("Enabled")}, {"isocode"});
}

void CreatePrivileges(dao::Database& db, const std::string& name) {
  CreateTable(db, name, {Long("ID"), Text("Name", 50), Short("Level")}, {"ID"});
}

// The installed links hold string identifiers as numbers, the release's as
// five-digit texts.
void CreateLinks(dao::Database& db, Side side) {
  bool numeric = side == Side::kInstalled;
  CreateTable(db, "Links",
              {Long("ID"), Text("Url", 255),
               numeric ? Long("NameStringID") : Text("NameStringID", 5),
               numeric ? Long("TooltipStringID") : Text("TooltipStringID", 5)},
              {"ID"});
}

void AddInstalledSettings(dao::Database& db) {
  // Comment is a column the operator added to the installed database.
  CreateTable(db, "Configuration",
              {Text("Label", 50), Long("id"), Text("Value", 255), Text("Comment", 255)}, {"Label"});
  AddRows(db, "Configuration",
          {{"CasterPort", 1, "2101", "opened in the firewall"},
           {"CasterHost", 2, "caster.example.net", kNull},
           {"MailServer", 3, "mail.example.net", "the operator's relay"},
           {"SessionTimeout", 40, "600", kNull},
           {"OperatorBanner", 50, "Welcome to the reference network", kNull}});
  CreateLayout(db);
  AddRows(db, "Layout",
          {{"StationList", 1, 320, true}, {"Map", 12, 640, true}, {"Clock", 3, 80, false}});
  CreateLanguage(db);
  AddRows(db, "Language",
          {{"de", "Deutsch", true},
           {"en", "English", true},
           {"fr", "Fran\xC3\xA7" "ais", true},
           {"pl", "Polski", true}});
}

void AddInstalledLinksAndPrivileges(dao::Database& db) {
  CreateLinks(db, Side::kInstalled);
  AddRows(db, "Links",
          {{1, "https://status.example.net/", 120, 121},
           {2, "https://help.example.net/", 130, 131},
           {3, "https://intranet.example.net/rtk", 13550, kNull}});
  CreatePrivileges(db, "Privilegies");  // the old spelling of the table's name
  AddRows(db, "Privilegies", {{1, "View", 1}, {2, "Edit", 2}, {3, "Admin", 9}, {4, "Export", 2}});
}

Row StationRow(int n) {
  // The numbers leave out 3, 7, 11, ..., as deletions leave gaps: a table
  // carried into the update information must keep them.
  int id = n + n / 3;
  // Coordinates stay within a plausible region, however many stations there are.
  double latitude = 47.0 + (n * 13 % 800) / 100.0;
  double longitude = 6.0 + (n * 29 % 900) / 100.0;
  return {id,        Format("RS%02lld", n), "Reference station " + std::to_string(n),
          latitude,  longitude,             150.0 + n * 7 % 850,
          n % 4 != 0};
}

void AddStations(dao::Database& db, int size) {
  CreateTable(db, "Stations",
              {Counter("ID"), Text("Code", 10), Text("Name", 50), Double("Latitude"),
               Double("Longitude"), Double("Height"), Bit("Active")},
              {"ID"});
  AddGeneratedRows(db, "Stations", std::max(3, size), StationRow);
}

void WriteInstalledConfig(dao::Database& db, int size, const std::string& installedFolder) {
  AddInstalledSettings(db);
  AddInstalledLinksAndPrivileges(db);
  AddStations(db, size);
  CreateVersionTable(db);
  AddRows(db, "Version", {{"3.1.0", Day("2024-09-30"), "Station list layout"}});
  CreateTable(db, "InstallState", {Long("ID"), Text("Step", 50)}, {"ID"}, dao::kTableHidden);
  AddRows(db, "InstallState", {{1, "done"}});
  CreateLink(db, "StringTable", "StringTable", ";DATABASE=" + installedFolder + "resource.mdb",
             dao::kTableAttached);
}

void AddReleaseSettings(dao::Database& db) {
  CreateTable(db, "Configuration", {Text("Label", 50), Long("id"), Text("Value", 255)}, {"Label"});
  AddRows(db, "Configuration",
          {{"CasterPort", 1, "2101"},
           {"CasterHost", 2, "caster.local"},
           {"MailServer", 3, "localhost"},
           {"SessionTimeout", 4, "900"},
           {"NtripVersion", 5, "2.0"}});
  CreateLayout(db);
  AddRows(db, "Layout",
          {{"StationList", 1, 320, true},
           {"Map", 2, 640, true},
           {"Clock", 3, 80, true},
           {"Legend", 4, 120, true}});
  CreateLanguage(db);
  AddRows(db, "Language",
          {{"de", "Deutsch", true},
           {"en", "English", true},
           {"fr", "Fran\xC3\xA7" "ais", false},
           {"es", "Espa\xC3\xB1ol", false}});
}

void AddReleaseLinksAndPrivileges(dao::Database& db) {
  CreateLinks(db, Side::kUpdate);
  AddRows(db, "Links",
          {{1, "https://status.example.net/", "00120", "00122"},
           {2, "https://www.example.net/help", "00130", "00131"},
           {5, "https://shop.example.net/", "00140", "00141"}});
  CreatePrivileges(db, "Privileges");
  AddRows(db, "Privileges", {{1, "View", 1}, {2, "Edit", 2}, {3, "Admin", 3}});
  CreateTable(db, "MapLayers", {Long("ID"), Text("Name", 50)}, {"ID"});
  AddRows(db, "MapLayers", {{1, "Stations"}, {2, "Coverage"}});
}

// The release links its tables to its build folder, which no operator's
// machine has; the update points them at the installed resource database.
void AddReleaseLinkedTables(dao::Database& db) {
  const std::string build = ";DATABASE=/srv/korvane-build/DB/resource.mdb";
  CreateLink(db, "StringTable", "StringTable", build, dao::kTableAttached);
  CreateLink(db, "HelpTexts", "Help", build,
             dao::kTableAttached | dao::kTableAttachExclusive | dao::kTableAttachSavePassword);
  CreateLink(db, "ExternalStations", "Stations", "ODBC;DSN=Orbisdat;", dao::kTableAttachedOdbc);
}

void AddReleaseOwnTables(dao::Database& db) {
  CreateTable(db, "ReleaseNotes", {Long("ID"), Memo("Note")}, {"ID"}, dao::kTableHidden);
  AddRows(db, "ReleaseNotes", {{1, "Shop and string identifiers"}});
  CreateTable(db, "MSysReleaseInfo", {Text("Name", 50), Text("Value", 255)}, {"Name"});
  AddRows(db, "MSysReleaseInfo", {{"Build", "3.3.0.412"}});
}

void WriteUpdateConfig(dao::Database& db) {
  AddReleaseSettings(db);
  AddReleaseLinksAndPrivileges(db);
  CreateVersionTable(db);
  AddRows(db, "Version",
          {{"3.1.0", Day("2024-09-30"), "Station list layout"},
           {"3.2.0", Day("2025-06-02"), "Links with string identifiers"},
           {"3.3.0", Day("2026-11-16"), "Online shop"}});
  AddReleaseLinkedTables(db);
  AddReleaseOwnTables(db);
}

// ---- onlineshop.mdb ---------------------------------------------------------

const double kProductPrices[] = {4.5, 12, 20};

void CreateShopTables(dao::Database& db) {
  CreateTable(db, "Products", {Long("ID"), Text("Name", 50), Currency("Price")}, {"ID"});
  AddRows(db, "Products",
          {{1, "RTK hour", kProductPrices[0]},
           {2, "RINEX day", kProductPrices[1]},
           {3, "Post-processing job", kProductPrices[2]}});
  CreateTable(db, "Orders",
              {Counter("ID"), Long("UserID"), DateTime("OrderDate"), Currency("Total")}, {"ID"});
  CreateTable(db, "OrderItems", {Long("OrderID"), Long("ProductID"), Long("Quantity")},
              {"OrderID", "ProductID"});
}

// Order i holds one item: Quantity(i) of product Product(i).
int Product(int i) { return 1 + (i - 1) % 3; }
int Quantity(int i) { return 1 + i % 4; }

void AddOrders(dao::Database& db, int size) {
  int users = UserCount(size);
  AddGeneratedRows(db, "Orders", size, [users](int i) -> Row {
    return {i, 1 + (i - 1) % users, RowDate(i), Quantity(i) * kProductPrices[Product(i) - 1]};
  });
  AddGeneratedRows(db, "OrderItems", size, [](int i) -> Row {
    return {i, Product(i), Quantity(i)};
  });
}

void WriteInstalledShop(dao::Database& db, int size) {
  CreateShopTables(db);
  AddOrders(db, size);
}

void WriteUpdateShop(dao::Database& db) { CreateShopTables(db); }

// ---- resource.mdb -----------------------------------------------------------

struct FixedString {
  int id;
  const char* ger;
  const char* eng;
  bool replace;
};

// 13100 to 13208 are obsolete: the update deletes them from the database in
// use; 13099 and 13209 stand at the edges of that range and stay.
const FixedString kInstalledStrings[] = {
    {13098, "Stationen", "Stations", false},
    {13099, "Verbindung", "Connection", false},
    {13100, "Modem (veraltet)", "Modem (obsolete)", false},
    {13150, "ISDN (veraltet)", "ISDN (obsolete)", false},
    {13208, "Fax (veraltet)", "Fax (obsolete)", false},
    {13209, "Nutzer", "User", false},
    {13300, "Einwahl", "Dial-in (our network)", true},
    {13301, "Preise", "Our prices", true},
    {13302, "Hotline", "Hotline", true},
    {13303, "Abmelden", "Log off", false},
};

const FixedString kReleaseStrings[] = {
    {13098, "Stationen", "Stations", false},
    {13099, "Verbindung", "Connection", false},
    {13209, "Nutzer", "User", false},
    {13300, "Einwahl", "Dial-in", false},
    {13301, "Preise", "Prices", true},
    {13303, "Abmelden", "Log out", false},
};

constexpr int kMaxGeneratedStrings = 98999;
// String identifiers of the database in use are 16-bit numbers.
constexpr int kMaxInstalledStringId = 32767;

// Generated strings leave 13000 to 13999 to the fixed ones.
int GeneratedStringId(int k) { return k + 1 < 13000 ? k + 1 : k + 1 + 1000; }

Variant StringId(int id, Side side) {
  if (side == Side::kInstalled) return id;
  return Format("%05lld", id);
}

void CreateStringTable(dao::Database& db, Side side) {
  bool installed = side == Side::kInstalled;
  CreateTable(db, "StringTable",
              {installed ? Long("ID") : Text("ID", 5), Text("GER", 255), Text("ENG", 255),
               Bit(installed ? "Replace" : "ReplaceRow")},
              {"ID"});
}

template <size_t N>
void AddStrings(dao::Database& db, Side side, const FixedString (&fixed)[N], int size) {
  RowWriter writer(db, "StringTable");
  for (const FixedString& s : fixed) writer.Add({StringId(s.id, side), s.ger, s.eng, s.replace});
  int count = std::min(size, kMaxGeneratedStrings);
  for (int k = 0; k < count; ++k) {
    int id = GeneratedStringId(k);
    // The identifiers grow with k, so the installed strings are a prefix.
    if (side == Side::kInstalled && id > kMaxInstalledStringId) break;
    std::string number = std::to_string(id);
    writer.Add({StringId(id, side), "Meldung " + number, "Message " + number, false});
  }
}

void CreateHelp(dao::Database& db, Side side) {
  CreateTable(db, "Help", {Long("ID"), Text("Topic", 50), Memo("Body")}, {"ID"});
  const char* streams = side == Side::kInstalled ? "How to receive our RTCM streams"
                                                 : "How to receive RTCM streams";
  AddRows(db, "Help", {{1, "Login", "How to log in"}, {2, "Streams", streams}});
}

void WriteInstalledResource(dao::Database& db, int size) {
  CreateStringTable(db, Side::kInstalled);
  AddStrings(db, Side::kInstalled, kInstalledStrings, size);
  CreateHelp(db, Side::kInstalled);
  CreateVersionTable(db);
  AddRows(db, "Version", {{"3.1.0", Day("2024-09-30"), "String table"}});
}

void WriteUpdateResource(dao::Database& db, int size) {
  CreateStringTable(db, Side::kUpdate);
  AddStrings(db, Side::kUpdate, kReleaseStrings, size);
  CreateHelp(db, Side::kUpdate);
  CreateVersionTable(db);
  AddRows(db, "Version",
          {{"3.1.0", Day("2024-09-30"), "String table"},
           {"3.3.0", Day("2026-11-16"), "Shop texts"}});
}

// ---- users.mdb --------------------------------------------------------------

void CreateGroups(dao::Database& db) {
  CreateTable(db, "Groups", {Long("ID"), Text("Name", 50)}, {"ID"});
  AddRows(db, "Groups", {{1, "Administrators"}, {2, "Operators"}, {3, "Customers"}, {5, "Guests"}});
}

void CreateServices(dao::Database& db) {
  CreateTable(db, "Services", {Long("ID"), Text("Feature", 50), Currency("Price")}, {"ID"});
}

void CreateUsers(dao::Database& db, Side side) {
  bool renamed = side == Side::kUpdate;
  CreateTable(db, "Users",
              {Counter("ID"), Text("Login", 30), Text(renamed ? "FullName" : "Full Name", 50),
               Text("Street", 50), Text(renamed ? "ZipCode" : "Zip-Code", 10), Text("City", 50),
               Long("GroupID")},
              {"ID"});
}

std::string Login(int n) { return n == 1 ? "admin" : "user" + std::to_string(n); }

Row UserRow(int n) {
  if (n == 1) return {1, "admin", "Administrator", "1 Network Street", "30159", "Hannover", 1};
  static const char* const kCities[] = {"Hannover", "Kassel", "Bonn", "Erfurt", "Mainz", "Ulm"};
  static const int kGroups[] = {2, 3, 3, 5};
  return {n,
          Login(n),
          "User " + std::to_string(n),
          std::to_string(1 + n % 120) + " Station Road",
          Format("%05lld", 10000 + n * 37 % 90000),
          kCities[n % 6],
          kGroups[(n - 2) % 4]};
}

// A password hash of a fixed formula, so that the files stay the same from
// run to run: 64-bit FNV-1a of the login, then a final mix so that similar
// logins give unlike texts.
std::string PasswordHash(const std::string& login) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : login) hash = (hash ^ c) * 1099511628211ull;
  hash = (hash ^ (hash >> 33)) * 0xff51afd7ed558ccdull;
  hash ^= hash >> 33;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

Row PasswdRow(int n) { return {n, PasswordHash(Login(n)), n == 1 ? 2 : 1 + n % 2}; }

void WriteInstalledUsers(dao::Database& db, int size) {
  CreateGroups(db);
  CreateTable(db, "Privilegies", {Long("GroupID"), Long("ID")}, {"GroupID", "ID"});
  // Guests (5) lack the logon privilege 12, which the update grants.
  AddRows(db, "Privilegies", {{1, 1}, {1, 2}, {1, 12}, {2, 2}, {2, 12}, {3, 12}, {5, 3}});
  CreateUsers(db, Side::kInstalled);
  AddGeneratedRows(db, "Users", UserCount(size), UserRow);
  CreateServices(db);
  AddRows(db, "Services",
          {{1, "RTK", 4.5}, {2, "JobManagement", 0}, {3, "DGPS", 1.5}, {4, "JOBMANAGEMENT", 0}});
  CreateTable(db, "Passwd", {Long("ID"), Text("Password", 50), Short("MaxConn")}, {"ID"});
  AddGeneratedRows(db, "Passwd", UserCount(size), PasswdRow);
  CreateVersionTable(db);
  AddRows(db, "Version", {{"3.1.0", Day("2024-09-30"), "Groups"}});
}

void WriteUpdateUsers(dao::Database& db) {
  CreateGroups(db);
  CreateTable(db, "AccessPrivileges", {Long("GroupID"), Long("ID")}, {"GroupID", "ID"});
  AddRows(db, "AccessPrivileges", {{1, 1}, {1, 2}, {1, 12}, {2, 12}, {3, 12}, {5, 12}});
  CreateUsers(db, Side::kUpdate);
  CreateServices(db);
  AddRows(db, "Services", {{1, "RTK", 4.5}, {3, "DGPS", 1.5}, {5, "OnlineShop", 0}});
  CreateTable(db, "Passwd",
              {Long("ID"), Text("Password", 50), Short("MaxConn"), Short("MaxNtripConn")}, {"ID"});
  CreateVersionTable(db);
  AddRows(db, "Version",
          {{"3.1.0", Day("2024-09-30"), "Groups and privileges"},
           {"3.2.0", Day("2025-06-02"), "Access privileges"},
           {"3.3.0", Day("2026-11-16"), "Online shop"}});
}

// ---- The two folders --------------------------------------------------------

using WriteContent = std::function<void(dao::Database&)>;

// The whole database reaches the file in the one commit of Close.
void WriteDatabase(dao::DatabaseEngine& engine, int formatVersion, const std::string& path,
                   const WriteContent& write) {
  std::unique_ptr<dao::Database> db = engine.CreateDatabase(path, formatVersion);
  write(*db);
  db->Close();
}

void WriteInstalledRelease(dao::DatabaseEngine& engine, int formatVersion, const std::string& folder,
                           int size) {
  WriteDatabase(engine, formatVersion, folder + "accounting.mdb",
                [&](dao::Database& db) { WriteInstalledAccounting(db, size); });
  WriteDatabase(engine, formatVersion, folder + "availability.mdb",
                [&](dao::Database& db) { WriteInstalledAvailability(db, size); });
  WriteDatabase(engine, formatVersion, folder + "config.mdb",
                [&](dao::Database& db) { WriteInstalledConfig(db, size, folder); });
  WriteDatabase(engine, formatVersion, folder + "onlineshop.mdb",
                [&](dao::Database& db) { WriteInstalledShop(db, size); });
  WriteDatabase(engine, formatVersion, folder + "resource.mdb",
                [&](dao::Database& db) { WriteInstalledResource(db, size); });
  WriteDatabase(engine, formatVersion, folder + "users.mdb",
                [&](dao::Database& db) { WriteInstalledUsers(db, size); });
}

void WriteUpdateInformation(dao::DatabaseEngine& engine, int formatVersion,
                            const std::string& folder, int size) {
  WriteDatabase(engine, formatVersion, folder + "accounting.mdb", WriteUpdateAccounting);
  WriteDatabase(engine, formatVersion, folder + "availability.mdb", WriteUpdateAvailability);
  WriteDatabase(engine, formatVersion, folder + "config.mdb", WriteUpdateConfig);
  WriteDatabase(engine, formatVersion, folder + "onlineshop.mdb", WriteUpdateShop);
  WriteDatabase(engine, formatVersion, folder + "resource.mdb",
                [&](dao::Database& db) { WriteUpdateResource(db, size); });
  WriteDatabase(engine, formatVersion, folder + "users.mdb", WriteUpdateUsers);
}

}  // namespace

void MakeRelease(dao::DatabaseEngine& engine, const std::string& installedFolder,
                 const std::string& updateFolder, int size, int formatVersion) {
  // An empty folder would become "/" below.
  if (installedFolder.empty() || updateFolder.empty()) throw BadArgument("empty folder name");
  std::string installed = WithSlash(installedFolder);
  std::string update = WithSlash(updateFolder);
  CheckArguments(installed, update, size, formatVersion);
  WriteInstalledRelease(engine, formatVersion, installed, size);
  WriteUpdateInformation(engine, formatVersion, update, size);
}

}  // namespace tabsync::release
