// Character-set helpers that the profile reader needs from the platform.
//
// On Windows these are the system's: WideCharToMultiByte with the ANSI and
// OEM code pages, and CharPrevA.  Elsewhere both code pages are UTF-8, so
// UTF-16 text converts without loss through text/utf.h; a code unit that
// cannot be converted (a lone surrogate) becomes the default character, and
// bytes that are not UTF-8 are left out.
#ifndef INIREG_PLATFORM_CODE_PAGE_H_
#define INIREG_PLATFORM_CODE_PAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace inireg {

enum class CodePage { kAnsi, kOem };

// Converts `count` UTF-16 code units to the code page.  With a null `output`
// nothing is written and the result is the number of bytes the conversion
// needs; otherwise at most `capacity` bytes are written (no terminator is
// added) and the result is the number written.  Characters the code page
// cannot show become `defaultChar`.
size_t ConvertWideText(CodePage codePage, const char16_t* text, size_t count, char* output,
                       size_t capacity, char defaultChar);

// How many of the `count` UTF-16 code units at `text`, from the first, make
// the longest run whose conversion (as ConvertWideText's) takes at most
// `capacity` bytes without ending between the two units of a surrogate
// pair.
size_t WideUnitsFitting(CodePage codePage, const char16_t* text, size_t count, size_t capacity,
                        char defaultChar);

// The profile reader's conversion of a line: converts to the OEM code page
// the longest run of the `count` units at `text` whose conversion to the
// ANSI code page takes at most `capacity` bytes (WideUnitsFitting's run),
// sets *taken to its number of units and returns the bytes written.
size_t ConvertWideTextFitting(const char16_t* text, size_t count, char* output, size_t capacity,
                              char defaultChar, size_t* taken);

// Converts `count` bytes of code-page text to UTF-16 code units, appended to
// `output`.  False when some bytes are not a character of the code page
// (they are then left out); the caller should not rely on partial output.
bool ConvertToWideText(CodePage codePage, const char* text, size_t count, std::u16string* output);

// The start of the character before `current` in the ANSI code page, never
// before `start`.
const char* PreviousCharacter(const char* start, const char* current);

}  // namespace inireg

#endif  // INIREG_PLATFORM_CODE_PAGE_H_
