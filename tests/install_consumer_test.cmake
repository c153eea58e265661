# Installs the build into a fresh prefix and checks that what was installed
# is usable: examples/consumer is built against it with find_package and with
# pkg-config, and both programs and the installed command are run.
# Arguments: -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DCXX=

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect_output expected)
  string(STRIP "${output}" actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "expected \"${expected}\", got \"${actual}\"")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(env ${CMAKE_COMMAND} -E env INIREG_REGISTRY=${WORK_DIR}/registry.db)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file include/inireg/profile_store.h include/inireg/registry_store.h
             include/inireg/win32_registry.h bin/inireg)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer -B ${WORK_DIR}/cmake-build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${env} ${WORK_DIR}/cmake-build/consumer ${WORK_DIR}/cmake.ini)
expect_output("from consumer 42")

file(GLOB_RECURSE pc_file ${prefix}/*/inireg.pc)
if(NOT pc_file)
  message(FATAL_ERROR "inireg.pc not installed")
endif()
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir} pkg-config --static --cflags --libs inireg)
separate_arguments(flags UNIX_COMMAND "${output}")
run(${CXX} -std=c++17 ${SOURCE_DIR}/examples/consumer/main.cpp -o ${WORK_DIR}/pc-consumer ${flags})
run(${env} ${WORK_DIR}/pc-consumer ${WORK_DIR}/pc.ini)
expect_output("from consumer 42")

run(${env} ${prefix}/bin/inireg get "reg:CU\\Software\\inireg consumer" Example Answer)
expect_output("42")
