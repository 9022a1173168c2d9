// make-release [--size N] [--format-version V] INSTALLED_FOLDER UPDATE_FOLDER
// make-release -h|--help
//
// Writes the six databases of an installed older release into
// INSTALLED_FOLDER and the new release's update information into
// UPDATE_FOLDER (docs/make-release.md). Exit status: 0 when both are written
// or the usage was asked for, 1 when writing fails, 2 for wrong arguments.

#include <charconv>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "dbengine/error.h"
#include "dbengine/sqlite_engine.h"
#include "make-release/release_maker.h"

namespace {

constexpr int kDefaultSize = 1;

struct Arguments {
  int size = kDefaultSize;
  int format_version = tabsync::dao::kFormatVersion;
  std::string installed;
  std::string update;
};

void PrintUsage(std::ostream& out) {
  out << "usage: make-release [--size N] [--format-version V] INSTALLED_FOLDER UPDATE_FOLDER\n"
      << "       make-release -h|--help\n"
      << "  N from 1 to " << tabsync::release::kMaxReleaseSize << ", default " << kDefaultSize
      << "\n"
      << "  V, the database file format version, from " << tabsync::dao::kFirstFormatVersion
      << " to " << tabsync::dao::kFormatVersion << ", default " << tabsync::dao::kFormatVersion
      << "\n";
}

// The whole text as a decimal number from low to high. Checked here as well
// as in MakeRelease, so that a wrong number creates no folder.
std::optional<int> ParseNumber(std::string_view text, int low, int high) {
  int number = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  if (number < low || number > high) return std::nullopt;
  return number;
}

std::optional<Arguments> ParseArguments(int argc, char** argv) {
  Arguments arguments;
  int i = 1;
  for (; i + 1 < argc && std::string_view(argv[i]).starts_with("--"); i += 2) {
    std::string_view option = argv[i];
    std::optional<int> number;
    if (option == "--size") {
      number = ParseNumber(argv[i + 1], 1, tabsync::release::kMaxReleaseSize);
      arguments.size = number.value_or(0);
    } else if (option == "--format-version") {
      number = ParseNumber(argv[i + 1], tabsync::dao::kFirstFormatVersion,
                           tabsync::dao::kFormatVersion);
      arguments.format_version = number.value_or(0);
    }
    if (!number) return std::nullopt;
  }
  if (argc - i != 2) return std::nullopt;
  arguments.installed = argv[i];
  arguments.update = argv[i + 1];
  if (arguments.installed.empty() || arguments.update.empty()) return std::nullopt;
  return arguments;
}

// The folder, created when missing, as an absolute path ending in "/". The
// installed folder must be absolute: its config.mdb links to its resource.mdb
// by full path.
std::string PrepareFolder(const std::string& folder) {
  std::filesystem::create_directories(folder);
  std::string path = std::filesystem::absolute(folder).lexically_normal().string();
  return path.ends_with('/') ? path : path + "/";
}

bool AsksForHelp(int argc, char** argv) {
  return argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h");
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForHelp(argc, argv)) {
    PrintUsage(std::cout);
    return 0;
  }
  std::optional<Arguments> arguments = ParseArguments(argc, argv);
  if (!arguments) {
    PrintUsage(std::cerr);
    return 2;
  }
  try {
    std::string installed = PrepareFolder(arguments->installed);
    std::string update = PrepareFolder(arguments->update);
    std::unique_ptr<tabsync::dao::DatabaseEngine> engine = tabsync::dao::NewSqliteEngine();
    tabsync::release::MakeRelease(*engine, installed, update, arguments->size,
                                  arguments->format_version);
    std::cout << "installed release: " << installed << " (6 databases)\n"
              << "update information: " << update << " (6 databases)\n";
    return 0;
  } catch (const tabsync::Error& error) {
    std::cerr << "make-release: " << error.Number() << ": " << error.Description() << "\n";
  } catch (const std::filesystem::filesystem_error& error) {
    std::cerr << "make-release: " << error.what() << "\n";
  }
  return 1;
}
