// What the fuzz harnesses share besides the in-memory file system: failing
// so that libFuzzer keeps the input, printable reports, scratch folders.
#ifndef INIREG_FUZZ_FUZZ_SUPPORT_H_
#define INIREG_FUZZ_FUZZ_SUPPORT_H_

#include <string>

namespace inireg {
namespace fuzz {

// Prints `what` and aborts, so that libFuzzer saves the input.
[[noreturn]] void Fail(const std::string& what);

// `text` with control bytes, bytes above 126, "\" and "|" written as \xHH, so
// that reports of names and values keep their layout.
std::string Escape(const std::string& text);

// A new folder under $TMPDIR (or /tmp) whose name begins with `prefix`.
std::string MakeScratchFolder(const std::string& prefix);

}  // namespace fuzz
}  // namespace inireg

#endif  // INIREG_FUZZ_FUZZ_SUPPORT_H_
