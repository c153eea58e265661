// Whole key trees of the registry for the inireg command: reading a tree into
// a .reg document, applying a document, deleting a tree.
#ifndef INIREG_TOOLS_REGISTRY_TREE_H_
#define INIREG_TOOLS_REGISTRY_TREE_H_

#include <string>

#include "inireg/win32_registry.h"
#include "reg_file.h"
// These functions answer registry status codes; DescribeStatus puts them in
// words.
#include "registry_status.h"

namespace inireg::tool {

// Appends the key at root\subkey and every key below it to `document`,
// parents before children, subkeys in the registry's order.
LONG ReadKeyTree(RegRoot root, const std::string& subkey, RegDocument* document);

// Deletes `subkey` of `parent` with all its values and subkeys, in one
// transaction on Linux.  ERROR_FILE_NOT_FOUND when there is no such key;
// ERROR_ACCESS_DENIED for an empty name.
LONG DeleteKeyTree(HKEY parent, const std::string& subkey);

// Applies the document in order.  Deleting a key or value that does not exist
// is not an error.  On failure *failedLine is the line of the key or value
// that failed; what came before it stays applied.
LONG ApplyRegDocument(const RegDocument& document, int* failedLine);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_REGISTRY_TREE_H_
