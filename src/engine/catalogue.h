#ifndef TABSYNC_ENGINE_CATALOGUE_H_
#define TABSYNC_ENGINE_CATALOGUE_H_

#include <array>
#include <string>
#include <string_view>

namespace tabsync::engine {

// One database of the server: its file name (lower case; the record rules
// compare CurrentDatabaseFile with it exactly) and its ODBC data source.
struct CatalogueEntry {
  const char* file_name;
  const char* data_source_name;
};

// The six databases in update order. Every loop over the databases runs in
// this order.
inline constexpr std::array<CatalogueEntry, 6> DatabaseCatalogue = {{
    {"accounting.mdb", "Accounting"},
    {"availability.mdb", "Orbisdat"},
    {"config.mdb", "Config"},
    {"onlineshop.mdb", "OnlineShop"},
    {"resource.mdb", "Resource"},
    {"users.mdb", "Users"},
}};

// The file name without its last four characters (the extension), in lower
// case: "Accounting.MDB" gives "accounting". "" for a name of four characters
// or fewer.
std::string BaseName(std::string_view fileName);

// True for the data databases, which are updated in place (accounting,
// availability, onlineshop, users); false for the reference databases, which
// are rebuilt from the update information (config, resource) and for any
// other name.
bool IsDataDatabase(std::string_view fileName);

}  // namespace tabsync::engine

#endif  // TABSYNC_ENGINE_CATALOGUE_H_
