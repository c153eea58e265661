// Text from files, the registry or the command line made safe to print in a
// message: nothing in it can move the cursor, recolour the terminal or start
// a line of its own.
#ifndef INIREG_TOOLS_TERMINAL_TEXT_H_
#define INIREG_TOOLS_TERMINAL_TEXT_H_

#include <string>

namespace inireg::tool {

// C0 and C1 control characters and DEL become \n, \r, \t, \xHH or \u00HH,
// and bytes that are not part of well-formed UTF-8 become \xHH.  Everything
// else, non-ASCII letters and backslashes included (registry paths are full
// of them), stays as it is.
std::string Printable(const std::string& text);

}  // namespace inireg::tool

#endif  // INIREG_TOOLS_TERMINAL_TEXT_H_
