// The library's version.  CMake reads the numbers from this file, so it is
// the one place they are written.
#ifndef INIREG_VERSION_H_
#define INIREG_VERSION_H_

#define INIREG_VERSION_MAJOR 0
#define INIREG_VERSION_MINOR 2
#define INIREG_VERSION_PATCH 0
#define INIREG_VERSION_STRING "0.2.0"

#endif  // INIREG_VERSION_H_
