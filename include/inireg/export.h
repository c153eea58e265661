// INIREG_EXPORT marks the classes and functions that make up the library's
// binary interface.
//
// The library is compiled with hidden symbols, so only what carries this mark
// is visible outside a shared build.  Users of a shared build (libinireg.so,
// or inireg.dll with its import library) compile with INIREG_SHARED_LIBRARY
// defined: the CMake package and inireg.pc add it for them.  Users of the
// static library define nothing, and the mark is empty: linked into a plugin
// or another library, none of inireg's symbols is exported from it.
#ifndef INIREG_EXPORT_H_
#define INIREG_EXPORT_H_

#if defined(INIREG_SHARED_LIBRARY)
#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(INIREG_BUILDING_LIBRARY)
#define INIREG_EXPORT __declspec(dllexport)
#else
#define INIREG_EXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define INIREG_EXPORT __attribute__((visibility("default")))
#else
#define INIREG_EXPORT
#endif
#else
#define INIREG_EXPORT
#endif

#endif  // INIREG_EXPORT_H_
