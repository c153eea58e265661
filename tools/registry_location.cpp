#include "registry_location.h"

#include "library_internals.h"
#include "reg_file.h"

namespace inireg::tool {

bool ParseLocation(const std::string& text, RegRoot* root, std::string* subkey,
                   std::string* error) {
  std::string path;
  if (text.size() >= 2 && (text[0] == 'H' || text[0] == 'h') &&
      (text[1] == 'K' || text[1] == 'k')) {
    if (!SplitRegKeyPath(text, root, &path, error)) return false;
  } else if (ParseRegistryLocation(text, root, &path)) {
    // The same rules as .reg key names, so that what is exported can be read
    // back.  Messages show the path below HKCU, whatever the root.
    RegRoot ignored;
    std::string checked;
    std::string asKeyName = std::string(NamesOf(RegRoot::kCurrentUser).shortName) + "\\" + path;
    if (!path.empty() && !SplitRegKeyPath(asKeyName, &ignored, &checked, error)) {
      return false;
    }
  } else {
    *error =
        "unknown registry location \"" + text +
        "\"; expected ROOT\\PATH with ROOT one of CU, LM, CR, US, CC (or HKCU, HKLM, HKCR, HKU, "
        "HKCC, HKEY_CURRENT_USER, ...), as in CU\\Software\\Example";
    return false;
  }
  *subkey = path;
  return true;
}

}  // namespace inireg::tool
