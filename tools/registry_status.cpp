#include "registry_status.h"

#include <cstdio>

#include "library_internals.h"

namespace inireg::tool {

LONG CheckRegistry(RegRoot root) {
  KeyHandle handle;
  return RegOpenKeyExA(RootKey(root), "", 0, KEY_READ, handle.out());
}

std::string DescribeStatus(LONG status) {
  switch (status) {
    case ERROR_FILE_NOT_FOUND:
      return "not found";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_INVALID_PARAMETER:
      return "invalid parameter";
    case ERROR_BAD_PATHNAME:
      return "bad path name";
    case ERROR_REGISTRY_CORRUPT:
      return "the registry database cannot be opened or is damaged";
    case ERROR_REGISTRY_IO_FAILED:
      return "the registry database could not be read or written";
    default:
      break;
  }
  char text[48];
  std::snprintf(text, sizeof text, "registry error %ld", static_cast<long>(status));
  return text;
}

std::string RegistryFailure(LONG status) {
#ifndef _WIN32
  std::string reason = RegistryDatabaseError();
  if (!reason.empty()) return reason;
#endif
  return DescribeStatus(status);
}

}  // namespace inireg::tool
