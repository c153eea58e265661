// The one list of allowed differences between the Linux registry and Wine's,
// on which the Windows build of the conformance test runs.  Each flag is true
// when the registry under test answers as ours does; a case that touches a
// difference checks each registry's own answer, or only ours.  README.md's
// registry section lists the same differences.
#ifndef INIREG_TESTS_REGISTRY_DIFFERENCES_H_
#define INIREG_TESTS_REGISTRY_DIFFERENCES_H_

namespace inireg {
namespace test_support {

#ifdef _WIN32
constexpr bool kOurRegistry = false;
#else
constexpr bool kOurRegistry = true;
#endif

// RegCreateKeyExA(key, "") reports REG_OPENED_EXISTING_KEY, which is what
// happened (Wine: REG_CREATED_NEW_KEY).
constexpr bool kCreatingNoSubkeyOpensExisting = kOurRegistry;
// Creating a subkey (RegCreateKeyExA, RegSetKeyValueA) needs KEY_CREATE_SUB_KEY
// on the parent handle, as on Windows (Wine does not check).
constexpr bool kCreatingNeedsCreateSubKey = kOurRegistry;
// A key name component of 256 characters is refused, as Windows documents
// (Wine accepts 256).
constexpr bool kKeyNamesStopAt255 = kOurRegistry;
// Names and paths longer than 260 characters work (Wine: ERROR_MORE_DATA).
constexpr bool kLongPathsWork = kOurRegistry;
// REG_SZ data keeps exactly the bytes written (Wine adds a NUL to text written
// without one, so sizes read back are one larger there).
constexpr bool kStringsKeepTheirBytes = kOurRegistry;
// Values enumerate in creation order and subkeys by upper-cased name, as on
// Windows (Wine sorts both by lower-cased name).
constexpr bool kWindowsEnumerationOrder = kOurRegistry;
// RegQueryInfoKeyA needs KEY_QUERY_VALUE, as Windows documents (Wine does not
// check), and its largest data size counts stored bytes (Wine counts strings
// in UTF-16).
constexpr bool kQueryInfoAsDocumented = kOurRegistry;
// RegDeleteTreeA deletes everything or nothing (Wine may delete subkeys before
// it refuses to delete the values).
constexpr bool kDeleteTreeAllOrNothing = kOurRegistry;

}  // namespace test_support
}  // namespace inireg

#endif  // INIREG_TESTS_REGISTRY_DIFFERENCES_H_
