#ifndef TABSYNC_TOOLS_MAKE_RELEASE_RELEASE_MAKER_H_
#define TABSYNC_TOOLS_MAKE_RELEASE_RELEASE_MAKER_H_

// Writes a complete test release: the six databases of an installed older
// release (the databases in use) and the six update-information databases of
// the new release, with the content described in docs/make-release.md. Tests,
// the demo and the benchmarks build their databases with it.

#include <string>

#include "dbengine/dao.h"

namespace tabsync::release {

// The largest size MakeRelease accepts.
constexpr int kMaxReleaseSize = 1000000;

// Writes accounting.mdb, availability.mdb, config.mdb, onlineshop.mdb,
// resource.mdb and users.mdb of the installed older release into
// installedFolder, and the six update-information databases of the same names
// into updateFolder, through `engine`.
//
// Both folders must exist; each may be given with or without a trailing "/".
// installedFolder must be absolute, because the link of the installed
// config.mdb names the installed resource.mdb by its full path.
//
// `size` (1 to kMaxReleaseSize) scales the generated records: for instance
// 10 * size accounting actions and size availability records per table. The
// content depends on the arguments only (no clock, no random numbers), so the
// same arguments give byte-identical files. The twelve files are of the file
// format version `formatVersion` (an older one than the engine's makes a
// site as the previous version of the program wrote it, for the upgrade).
//
// Raises tabsync::Error: 3001 for a size outside 1..kMaxReleaseSize, a
// format version the engine cannot write or a relative installedFolder, 3204 when one of the twelve files exists already
// (checked before anything is written), 3024 when a folder is missing, and
// any error of the engine while writing. A failure while writing leaves the
// databases written before it in place.
void MakeRelease(dao::DatabaseEngine& engine, const std::string& installedFolder,
                 const std::string& updateFolder, int size,
                 int formatVersion = dao::kFormatVersion);

}  // namespace tabsync::release

#endif  // TABSYNC_TOOLS_MAKE_RELEASE_RELEASE_MAKER_H_
