// Registry status codes as the inireg command reports them: whether the
// registry can be used at all, and a status or the database's own reason in
// words for messages.
#ifndef INIREG_TOOLS_REGISTRY_STATUS_H_
#define INIREG_TOOLS_REGISTRY_STATUS_H_

#include <string>

#include "inireg/win32_registry.h"
#include "registry/registry_names.h"

namespace inireg::tool {

// ERROR_SUCCESS when the registry behind `root` can be read; on Linux, an
// error when its database cannot be opened.
LONG CheckRegistry(RegRoot root);

// A short description of a status code for messages.
std::string DescribeStatus(LONG status);

// Why the registry cannot be used: the database's own reason where it gave
// one (which file, what is wrong, how to fix it), else the status in words.
std::string RegistryFailure(LONG status);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_REGISTRY_STATUS_H_
