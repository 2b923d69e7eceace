#pragma once
// Removing one entry from an open zip archive.
#include <string>

#include "framework/io/ZipFile.h"

namespace quorvel {

// Removes AFileName (exact name) from AZip, open for writing: the later entries' data moves
// down over it when the archive closes. A name that is not in the archive changes nothing.
void DeleteZipEntry(TZipFile* AZip, const std::string& AFileName);

}  // namespace quorvel
