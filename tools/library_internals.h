// The library's own headers that the inireg command uses.  The command is
// built from the same tree as the library and shares its rules (how a
// profile line is read and written, how names compare, the registry's
// names and location texts), so it uses those internals directly rather
// than a copy.  They are not installed and promise no stable interface to
// anyone else; this header is the whole list, so that what the command
// takes from the library's inside stays in view.  Tool headers include only
// registry/registry_names.h, for the RegRoot type in their interfaces.
#ifndef INIREG_TOOLS_LIBRARY_INTERNALS_H_
#define INIREG_TOOLS_LIBRARY_INTERNALS_H_

#include "platform/code_page.h"  // ConvertWideText: fragments read as the engine reads UTF-16.
#include "platform/temporary_files.h"  // MakeTemporaryName: export's temporary file beside FILE.
#include "profile/profile_cache.h"  // ProfileDiscard: a failed write-back is dropped, not retried.
#include "profile/profile_line.h"   // The profile line grammar: IsProfileSpace, ValueAsWritten.
#include "registry/key_handle.h"    // KeyHandle: an open key closed by its scope.
#include "registry/registry_names.h"  // "(Default)" and the roots' names.
#include "registry/registry_path.h"   // Location texts: "CU\Software\Example".
#include "text/ascii_case.h"          // CompareNoCase: names compare as the stores compare them.

#endif  // INIREG_TOOLS_LIBRARY_INTERNALS_H_
