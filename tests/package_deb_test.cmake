# Makes the Debian package of the build with `cpack -G DEB`, checks its
# control fields and lists its contents against what an installed inireg
# consists of, then unpacks it and builds examples/consumer against the
# unpacked tree through its inireg.pc, and runs the packaged command.
# Arguments: -DBUILD_DIR= -DBUILD_SHARED= -DSOURCE_DIR= -DWORK_DIR= -DLIBDIR= -DCXX=

include(${CMAKE_CURRENT_LIST_DIR}/packaging_support.cmake)

read_header_version(${SOURCE_DIR}/include/inireg/version.h)
file(REMOVE_RECURSE ${WORK_DIR})
run(cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR})
file(GLOB packages ${WORK_DIR}/*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages: ${packages}")
endif()

# --- Control fields ----------------------------------------------------------

function(expect_field field pattern)
  run(dpkg-deb --field ${packages} ${field})
  string(STRIP "${output}" value)
  if(NOT value MATCHES "${pattern}")
    message(FATAL_ERROR "${field}: \"${value}\" does not match ${pattern}")
  endif()
endfunction()
expect_field(Package "^inireg$")
string(REPLACE "." "\\." version_pattern ${version})
expect_field(Version "^${version_pattern}$")
expect_field(Maintainer "^inireg authors$")
# The command (and a shared library) load SQLite and the C++ runtime.
expect_field(Depends "(^|, )libsqlite3-0( |,|$)")
expect_field(Depends "(^|, )libstdc\\+\\+6( |,|$)")

# --- Contents ----------------------------------------------------------------

run(dpkg-deb --contents ${packages})
string(REGEX MATCHALL " \\./[^\n]+" entries "${output}")
set(paths "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^ \\./([^ ]*[^/ ])/?( -> .*)?$" "\\1" path "${entry}")
  list(APPEND paths ${path})
endforeach()

file(GLOB headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/include/inireg/*.h)
set(expected usr/bin/inireg
  usr/${LIBDIR}/cmake/inireg/inireg-config.cmake
  usr/${LIBDIR}/cmake/inireg/inireg-config-version.cmake
  usr/${LIBDIR}/cmake/inireg/inireg-targets.cmake
  usr/${LIBDIR}/pkgconfig/inireg.pc
  usr/share/bash-completion/completions/inireg
  usr/share/doc/inireg/copyright)
foreach(header ${headers})
  list(APPEND expected usr/${header})
endforeach()
if(BUILD_SHARED)
  list(APPEND expected usr/${LIBDIR}/libinireg.so usr/${LIBDIR}/libinireg.so.${soversion}
       usr/${LIBDIR}/libinireg.so.${version})
else()
  list(APPEND expected usr/${LIBDIR}/libinireg.a)
endif()
foreach(path ${expected})
  list(FIND paths ${path} found)
  if(found EQUAL -1)
    message(FATAL_ERROR "not in the package: ${path}\n${output}")
  endif()
endforeach()
# The man page, compressed or not.
if(NOT "${paths}" MATCHES "(^|;)usr/share/man/man1/inireg\\.1(\\.gz)?(;|$)")
  message(FATAL_ERROR "not in the package: usr/share/man/man1/inireg.1\n${output}")
endif()
# Nothing from the build tree: no tests, no build-time paths.
foreach(path ${paths})
  if(NOT path MATCHES "^usr(/|$)")
    message(FATAL_ERROR "outside /usr: ${path}")
  endif()
endforeach()

# --- Usable as unpacked -----------------------------------------------------

set(root ${WORK_DIR}/root)
run(dpkg-deb --extract ${packages} ${root})
file(GLOB_RECURSE installed_files ${root}/*)
foreach(file ${installed_files})
  if(file MATCHES "\\.(cmake|pc)$")
    file(READ ${file} text)
    string(FIND "${text}" "${BUILD_DIR}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file} names the build folder ${BUILD_DIR}")
    endif()
  endif()
endforeach()

set(lib ${root}/usr/${LIBDIR})
set(env ${CMAKE_COMMAND} -E env INIREG_REGISTRY=${WORK_DIR}/registry.db LD_LIBRARY_PATH=${lib})
run(${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${lib}/pkgconfig pkg-config --cflags --libs inireg)
separate_arguments(flags UNIX_COMMAND "${output}")
run(${CXX} -std=c++17 ${SOURCE_DIR}/examples/consumer/main.cpp -o ${WORK_DIR}/consumer ${flags})
run(${env} ${WORK_DIR}/consumer ${WORK_DIR}/consumer.ini)
expect_output("from consumer 42\ninireg ${version}")

# The command reports the package's version.
run(${env} ${root}/usr/bin/inireg --version)
string(FIND "${output}" "${version}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "inireg --version does not say ${version}: ${output}")
endif()
