// The Windows registry interface that RegistryStore is written against.
//
// On Windows this is the system's own header: the functions are advapi32's.
// Elsewhere the library brings a registry of its own, kept in an SQLite
// database, behind functions with the same names, signatures, status codes
// and behaviour.  They live in namespace inireg so that they never clash with
// another Win32 layer linked into the same program; code inside namespace
// inireg calls them unqualified on both platforms.
//
// The Linux registry's database is the file named by the environment variable
// INIREG_REGISTRY, or else $XDG_CONFIG_HOME/inireg/registry.db (falling back
// to ~/.config/inireg/registry.db).  SetRegistryDatabasePath overrides both.
// The file is created on first use with mode 0600, missing folders with 0700.
// A file, journal file or folder that another user owns or could change is
// refused (ERROR_ACCESS_DENIED), as is a path that names no regular file
// (ERROR_REGISTRY_CORRUPT); RegistryDatabaseError tells why.  At a normal
// exit, and when the last handle on a database is closed, the write-ahead
// log is copied into the file, so that the file alone holds every value.
// Several processes may use one database at once; each write is atomic and
// survives a crash of the writing process.  As with SQLite itself, a child
// forked while the registry is open must not use it before exec.
#ifndef INIREG_WIN32_REGISTRY_H_
#define INIREG_WIN32_REGISTRY_H_

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else  // !_WIN32

#include <cstdint>
#include <string>

#include "inireg/export.h"

namespace inireg {

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint8_t BYTE;
typedef DWORD REGSAM;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef LONG* PLONG;

// A time as 100-nanosecond intervals since 1 January 1601 (UTC).
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;

// A key handle.  The predefined roots have the fixed values below; every other
// handle is an opaque token handed out by RegOpenKeyExA and RegCreateKeyExA.
struct RegistryKeyHandle;
typedef RegistryKeyHandle* HKEY;
typedef HKEY* PHKEY;

#define INIREG_PREDEFINED_KEY(value) \
  (reinterpret_cast<::inireg::HKEY>(static_cast<uintptr_t>(static_cast<uint32_t>(value))))
#define HKEY_CLASSES_ROOT INIREG_PREDEFINED_KEY(0x80000000u)
#define HKEY_CURRENT_USER INIREG_PREDEFINED_KEY(0x80000001u)
#define HKEY_LOCAL_MACHINE INIREG_PREDEFINED_KEY(0x80000002u)
#define HKEY_USERS INIREG_PREDEFINED_KEY(0x80000003u)
#define HKEY_CURRENT_CONFIG INIREG_PREDEFINED_KEY(0x80000005u)

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// RegGetValueA flags: the types accepted (at least one is required), the
// views (one on Linux), and what to do with REG_EXPAND_SZ and on failure.
constexpr DWORD RRF_RT_REG_NONE = 0x00000001;
constexpr DWORD RRF_RT_REG_SZ = 0x00000002;
constexpr DWORD RRF_RT_REG_EXPAND_SZ = 0x00000004;
constexpr DWORD RRF_RT_REG_BINARY = 0x00000008;
constexpr DWORD RRF_RT_REG_DWORD = 0x00000010;
constexpr DWORD RRF_RT_REG_MULTI_SZ = 0x00000020;
constexpr DWORD RRF_RT_REG_QWORD = 0x00000040;
constexpr DWORD RRF_RT_DWORD = RRF_RT_REG_BINARY | RRF_RT_REG_DWORD;
constexpr DWORD RRF_RT_QWORD = RRF_RT_REG_BINARY | RRF_RT_REG_QWORD;
constexpr DWORD RRF_RT_ANY = 0x0000ffff;
constexpr DWORD RRF_SUBKEY_WOW6464KEY = 0x00010000;
constexpr DWORD RRF_SUBKEY_WOW6432KEY = 0x00020000;
constexpr DWORD RRF_NOEXPAND = 0x10000000;
constexpr DWORD RRF_ZEROONFAILURE = 0x20000000;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Status codes.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
// The database could not be opened, is not a registry database or is
// damaged.  Such a file is left exactly as it is.
constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
// The database could not be read or written (I/O error, lock timeout).
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
// The key behind an open handle has been deleted.
constexpr LONG ERROR_KEY_DELETED = 1018;
// RegGetValueA: REG_BINARY data of another size than RRF_RT_DWORD (4) or
// RRF_RT_QWORD (8) asks for.
constexpr LONG ERROR_DATATYPE_MISMATCH = 1629;
// RegGetValueA: the value's type is not among those the flags accept.
constexpr LONG ERROR_UNSUPPORTED_TYPE = 1630;

INIREG_EXPORT LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                                 PHKEY result);
INIREG_EXPORT LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                                   DWORD options, REGSAM desired, void* securityAttributes,
                                   PHKEY result, LPDWORD disposition);
INIREG_EXPORT LONG RegCloseKey(HKEY key);
INIREG_EXPORT LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                    LPBYTE data, LPDWORD dataSize);
INIREG_EXPORT LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                  const BYTE* data, DWORD dataSize);
INIREG_EXPORT LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                                 LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
INIREG_EXPORT LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize);
INIREG_EXPORT LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
INIREG_EXPORT LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);

// The rest of the registry interface that ported programs use, with Windows'
// documented behaviour.  Where the Linux registry knowingly differs from
// Windows (or Wine), README.md's registry section says so.
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, PLONG dataSize);
LONG RegGetValueA(HKEY key, LPCSTR subKey, LPCSTR valueName, DWORD flags, LPDWORD type, PVOID data,
                  LPDWORD dataSize);
LONG RegSetKeyValueA(HKEY key, LPCSTR subKey, LPCSTR valueName, DWORD type, LPCVOID data,
                     DWORD dataSize);
LONG RegDeleteKeyValueA(HKEY key, LPCSTR subKey, LPCSTR valueName);
LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                      LPDWORD subkeys, LPDWORD maxSubkeyName, LPDWORD maxClass, LPDWORD values,
                      LPDWORD maxValueName, LPDWORD maxValueData, LPDWORD securityDescriptorSize,
                      PFILETIME lastWriteTime);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                   LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime);
LONG RegDeleteTreeA(HKEY key, LPCSTR subKey);
LONG RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM view, DWORD reserved);
LONG RegFlushKey(HKEY key);

// Points the registry at another database file (empty: back to the
// environment's choice).  Handles already open keep working on the database
// they were opened in until they are closed.  Meant for tools and tests.
INIREG_EXPORT void SetRegistryDatabasePath(const std::string& path);

// Why the registry database last failed in this process, as one line that
// names the file, what is wrong and how to fix it (for example a folder that
// others can write, with the chmod that fixes it); empty when nothing has
// failed.  The status codes stay the Win32 ones: ERROR_ACCESS_DENIED (owner
// or permissions), ERROR_REGISTRY_CORRUPT (not a regular file, not a registry
// database, damaged), ERROR_REGISTRY_IO_FAILED (I/O error, lock wait).
std::string RegistryDatabaseError();

}  // namespace inireg

#endif  // _WIN32

#endif  // INIREG_WIN32_REGISTRY_H_
