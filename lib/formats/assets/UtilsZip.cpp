#include "lib/formats/assets/UtilsZip.h"

namespace quorvel {

void DeleteZipEntry(TZipFile* AZip, const std::string& AFileName) {
  if (AZip) AZip->Delete(AFileName);
}

}  // namespace quorvel
