# Installs inireg both ways, static and shared, into fresh prefixes and checks
# that each install is usable as shipped: examples/consumer is built against
# it as a CMake package and with pkg-config (plain and --static), its plugin
# (a shared module with inireg inside, loaded with dlopen) is built and run,
# and the shared library's name and exported symbols are checked.
#
# The build under test gives one kind; the other is configured once in
# WORK_DIR/other-build (the library only) and rebuilt incrementally on reruns.
# Arguments: -DBUILD_DIR= -DBUILD_SHARED= -DSOURCE_DIR= -DWORK_DIR= -DLIBDIR=
#            -DGENERATOR= -DCC= -DCXX=

include(${CMAKE_CURRENT_LIST_DIR}/packaging_support.cmake)

read_header_version(${SOURCE_DIR}/include/inireg/version.h)
file(GLOB public_headers RELATIVE ${SOURCE_DIR}/include ${SOURCE_DIR}/include/inireg/*.h)
set(env ${CMAKE_COMMAND} -E env INIREG_REGISTRY=${WORK_DIR}/registry.db)

# The files both kinds install, and the library files that tell them apart.
function(check_installed prefix kind)
  foreach(file ${public_headers}
      ${LIBDIR}/cmake/inireg/inireg-config.cmake
      ${LIBDIR}/cmake/inireg/inireg-config-version.cmake
      ${LIBDIR}/cmake/inireg/inireg-targets.cmake
      ${LIBDIR}/pkgconfig/inireg.pc)
    if(file MATCHES "^inireg/")
      set(file include/${file})
    endif()
    expect_exists(${prefix}/${file})
  endforeach()
  set(lib ${prefix}/${LIBDIR})
  if(kind STREQUAL static)
    expect_exists(${lib}/libinireg.a)
    expect_missing(${lib}/libinireg.so)
  else()
    expect_missing(${lib}/libinireg.a)
    expect_exists(${lib}/libinireg.so.${version})
    foreach(link libinireg.so libinireg.so.${soversion})
      if(NOT IS_SYMLINK ${lib}/${link})
        message(FATAL_ERROR "${lib}/${link} is not a symbolic link")
      endif()
    endforeach()
    get_filename_component(target ${lib}/libinireg.so REALPATH)
    if(NOT target STREQUAL "${lib}/libinireg.so.${version}")
      message(FATAL_ERROR "libinireg.so leads to ${target}")
    endif()
    run(readelf -d ${lib}/libinireg.so.${version})
    if(NOT output MATCHES "\\(SONAME\\)[^\n]*\\[libinireg\\.so\\.${soversion}\\]")
      message(FATAL_ERROR "SONAME is not libinireg.so.${soversion}:\n${output}")
    endif()
  endif()

  # The packages' versions are the headers'.
  run(${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${lib}/pkgconfig pkg-config --modversion inireg)
  expect_output(${version})
  set(PACKAGE_FIND_VERSION ${version})
  string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" ignored ${version})
  set(PACKAGE_FIND_VERSION_MAJOR ${CMAKE_MATCH_1})
  set(PACKAGE_FIND_VERSION_MINOR ${CMAKE_MATCH_2})
  include(${lib}/cmake/inireg/inireg-config-version.cmake)
  if(NOT PACKAGE_VERSION STREQUAL version OR NOT PACKAGE_VERSION_EXACT)
    message(FATAL_ERROR "CMake package version ${PACKAGE_VERSION}, headers ${version}")
  endif()
endfunction()

# A shared build exports what the public headers mark and nothing of the
# library's internals: every exported inireg name is a name from an
# installed header (template code from the standard library is exported by
# its own headers' rules), and every function marked INIREG_EXPORT is there.
function(check_exports prefix)
  dynamic_symbols(${prefix}/${LIBDIR}/libinireg.so.${version})
  set(header_text "")
  set(declaring_text "")  # Without export.h, whose comments name the mark.
  foreach(header ${public_headers})
    file(READ ${prefix}/include/${header} text)
    string(APPEND header_text "${text}\n")
    if(NOT header STREQUAL "inireg/export.h")
      string(APPEND declaring_text "${text}\n")
    endif()
  endforeach()
  set(exported_names "")
  foreach(symbol IN LISTS symbols)
    string(REGEX REPLACE "^(typeinfo name for|typeinfo for|vtable for|VTT for) " "" name "${symbol}")
    string(REGEX REPLACE "^[^(]* ((inireg|std)::)" "\\1" name "${name}")  # A template's return type.
    if(name MATCHES "^(std|__gnu_cxx)::")
      continue()
    endif()
    if(NOT name MATCHES "^inireg::")
      message(FATAL_ERROR "libinireg.so exports a name outside namespace inireg: ${symbol}")
    endif()
    string(REGEX REPLACE "\\(.*" "" name "${name}")
    # Template arguments (innermost first) and ABI tags are not names.
    set(previous "")
    while(NOT name STREQUAL previous)
      set(previous "${name}")
      string(REGEX REPLACE "<[^<>]*>" "" name "${name}")
    endwhile()
    string(REGEX REPLACE "^inireg::" "" name "${name}")
    string(REPLACE "::~" "::" name "${name}")
    string(REGEX REPLACE "(^|::)operator[^:]*" "\\1operator" name "${name}")
    string(REPLACE "::" ";" parts "${name}")
    foreach(part IN LISTS parts)
      if(NOT header_text MATCHES "[^A-Za-z0-9_]${part}[^A-Za-z0-9_]")
        message(FATAL_ERROR "libinireg.so exports an internal name: ${symbol}")
      endif()
    endforeach()
    list(APPEND exported_names ${name})
  endforeach()
  string(REGEX MATCHALL "INIREG_EXPORT [^(;{]* [A-Za-z0-9_]+\\(" declarations "${declaring_text}")
  if(NOT declarations)
    message(FATAL_ERROR "no function in the installed headers is marked INIREG_EXPORT")
  endif()
  foreach(declaration IN LISTS declarations)
    string(REGEX REPLACE ".* ([A-Za-z0-9_]+)\\($" "\\1" function "${declaration}")
    list(FIND exported_names ${function} found)
    if(found EQUAL -1)
      message(FATAL_ERROR "${function} is marked INIREG_EXPORT but libinireg.so does not export it")
    endif()
  endforeach()
endfunction()

# The program loads libinireg exactly when the install is shared.
function(check_linkage file kind)
  needed_libraries(${file})
  list(FIND needed libinireg.so.${soversion} found)
  if(kind STREQUAL shared AND found EQUAL -1)
    message(FATAL_ERROR "${file} does not load libinireg.so.${soversion}: ${needed}")
  elseif(kind STREQUAL static AND needed MATCHES "libinireg")
    message(FATAL_ERROR "${file} loads a shared libinireg from a static install: ${needed}")
  endif()
endfunction()

# A plugin exports its own entry point and none of the library's symbols,
# also when the static library is linked into it.
function(check_plugin_exports plugin)
  dynamic_symbols(${plugin})
  list(FIND symbols consumer_plugin_run found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${plugin} does not export consumer_plugin_run: ${symbols}")
  endif()
  foreach(symbol IN LISTS symbols)
    if(symbol MATCHES "inireg::|^Reg[A-Z]|sqlite3_")
      message(FATAL_ERROR "${plugin} exports the library's ${symbol}")
    endif()
  endforeach()
endfunction()

function(check_consumers prefix kind)
  set(dir ${WORK_DIR}/${kind})
  set(lib ${prefix}/${LIBDIR})
  # The programs find a shared libinireg through their RPATH (CMake) or the
  # loader's path (pkg-config builds).
  set(run_env ${env} LD_LIBRARY_PATH=${lib})
  set(expected "from consumer 42\ninireg ${version}")

  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer -B ${dir}/cmake-build -G ${GENERATOR}
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
      -DCMAKE_CXX_COMPILER=${CXX})
  run(${CMAKE_COMMAND} --build ${dir}/cmake-build)
  run(${env} ${dir}/cmake-build/consumer ${dir}/cmake.ini)
  expect_output("${expected}")
  check_linkage(${dir}/cmake-build/consumer ${kind})
  set(host ${dir}/cmake-build/plugin_host)
  file(GLOB plugin ${dir}/cmake-build/*consumer_plugin.so)
  run(${env} ${host} ${plugin} ${dir}/cmake-plugin.ini)
  expect_output("plugin 4207")
  check_plugin_exports(${plugin})

  # Plain `pkg-config --libs` must link: a static install lists what the
  # archive needs there, since no shared library carries it.
  foreach(mode plain static)
    set(static_flag "")
    if(mode STREQUAL static)
      set(static_flag --static)
    endif()
    run(${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${lib}/pkgconfig
        pkg-config ${static_flag} --cflags --libs inireg)
    separate_arguments(flags UNIX_COMMAND "${output}")
    set(program ${dir}/pc-${mode}-consumer)
    run(${CXX} -std=c++17 ${SOURCE_DIR}/examples/consumer/main.cpp -o ${program} ${flags})
    run(${run_env} ${program} ${dir}/pc-${mode}.ini)
    expect_output("${expected}")
    check_linkage(${program} ${kind})
  endforeach()
  # The plugin through pkg-config, refusing symbols left for the host.
  run(${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${lib}/pkgconfig pkg-config --cflags --libs inireg)
  separate_arguments(flags UNIX_COMMAND "${output}")
  set(plugin ${dir}/pc-plugin.so)
  run(${CXX} -std=c++17 -shared -fPIC -Wl,--no-undefined ${SOURCE_DIR}/examples/consumer/plugin.cpp
      -o ${plugin} ${flags})
  run(${run_env} ${host} ${plugin} ${dir}/pc-plugin.ini)
  expect_output("plugin 4207")
  check_plugin_exports(${plugin})
endfunction()

# --- Both installs -----------------------------------------------------------

file(REMOVE_RECURSE ${WORK_DIR}/static ${WORK_DIR}/shared ${WORK_DIR}/registry.db)
if(BUILD_SHARED)
  set(kind shared)
  set(other_kind static)
  set(other_shared OFF)
else()
  set(kind static)
  set(other_kind shared)
  set(other_shared ON)
endif()
set(other_build ${WORK_DIR}/other-build)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${other_build} -G ${GENERATOR}
    -DBUILD_SHARED_LIBS=${other_shared} -DINIREG_BUILD_TESTS=OFF -DINIREG_BUILD_TOOLS=OFF
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${other_build} --parallel 2)

foreach(build_kind ${kind} ${other_kind})
  if(build_kind STREQUAL kind)
    set(build ${BUILD_DIR})
  else()
    set(build ${other_build})
  endif()
  set(prefix ${WORK_DIR}/${build_kind}/prefix)
  run(${CMAKE_COMMAND} --install ${build} --prefix ${prefix})
  check_installed(${prefix} ${build_kind})
  if(build_kind STREQUAL shared)
    check_exports(${prefix})
  endif()
  check_consumers(${prefix} ${build_kind})
endforeach()

# The command, from the build under test.
set(command ${WORK_DIR}/${kind}/prefix/bin/inireg)
expect_exists(${command})
run(${env} ${command} get "reg:CU\\Software\\inireg consumer" Example Answer)
expect_output("42")
