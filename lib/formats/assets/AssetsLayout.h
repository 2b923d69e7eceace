#pragma once
// Where groups and assets stand in a package archive, and their JSON descriptors:
//   [group]/group.json, [group]/[id]/asset.json, [group]/[id]/[file name],
//   [group]/[id]/[sub-group]/... recursively.
// Descriptors are compact JSON, pure ASCII (\u escapes above 127), with a trailing "path"
// pair naming their own entry.
#include <string>
#include <string_view>
#include <vector>

#include "framework/io/Json.h"
#include "framework/rtl/Guid.h"

namespace quorvel {

class TQuorvelArchiveReference;

namespace assets_layout {

inline constexpr const char* GroupDescriptorName = "group.json";
inline constexpr const char* AssetDescriptorName = "asset.json";

// A sub-group's path is its owner asset's path, "/", its name; a top-level group's, its name.
std::string GroupPath(std::string_view AOwnerAssetPath, std::string_view AGroupName);
std::string AssetPath(std::string_view AGroupPath, const TGUID& AId);
std::string DescriptorEntry(std::string_view APath, const char* ADescriptorName);
std::string DataEntry(std::string_view AAssetPath, std::string_view AFilename);
// Parts at "/" and "\", empty parts kept.
std::vector<std::string> SplitPath(std::string_view APath);
// The text after the last "/", "\" or ":".
std::string FileNamePart(std::string_view APath);
// From the last "." of the file-name part, with the dot; empty when none.
std::string ExtensionOf(std::string_view APath);

// The descriptor text: AJson with "path" = AEntry added, compact and ASCII.
std::string DescriptorText(TJSONObject* AJson, const std::string& AEntry);
// Replaces entry AEntry of the archive by AJson's descriptor text.
void WriteDescriptor(TQuorvelArchiveReference* AArchive, const std::string& AEntry, TJSONObject* AJson);
// The parsed descriptor (the caller owns it). Text that is not JSON raises
// EQuorvelAssetsException "invalid descriptor json: <entry>"; JSON that is not an object
// raises EInvalidCast.
TJSONObject* ParseDescriptor(std::string_view AText, const std::string& AEntry);
// Null when the archive has no entry AEntry.
TJSONObject* ReadDescriptor(TQuorvelArchiveReference* AArchive, const std::string& AEntry);

}  // namespace assets_layout
}  // namespace quorvel
