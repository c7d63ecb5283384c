# Installs the library into a temporary prefix, moves the prefix elsewhere (the
# package must be relocatable), then builds and runs consumers through
# find_package and, natively, through add_subdirectory and pkg-config.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... [-DTOOLCHAIN=...]
#         -DVERSION=... [-DEMULATOR=...] [-DPKG_CONFIG=...] [-DCC=...] -P run_consumers.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

# A consumer prints the report, then "version <text>, ...".
function(check_consumer label)
  if(NOT run_output MATCHES "^{\"vendor\":[^\n]*}\nversion ${VERSION}, ")
    message(FATAL_ERROR "${label} consumer: not the report and version ${VERSION}:\n${run_output}")
  endif()
  message(STATUS "${label} consumer: ${run_output}")
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/staged)
file(RENAME ${WORK_DIR}/staged ${WORK_DIR}/prefix)
set(prefix ${WORK_DIR}/prefix)

set(configure ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/cmake-consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
if(TOOLCHAIN)
  # A cross build searches only its own root; point it at the package itself.
  file(GLOB_RECURSE config ${prefix}/*/VelquornCpuInfoConfig.cmake)
  get_filename_component(config_dir "${config}" DIRECTORY)
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DVelquornCpuInfo_DIR=${config_dir})
endif()
run(${configure})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-consumer)
if(EMULATOR)
  # The DLL sits in the prefix's bin folder; a Windows host ships it beside itself.
  file(GLOB dlls ${prefix}/bin/*.dll)
  file(COPY ${dlls} DESTINATION ${WORK_DIR}/cmake-consumer)
  run(${EMULATOR} ${WORK_DIR}/cmake-consumer/consumer.exe)
else()
  set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
  run(${WORK_DIR}/cmake-consumer/consumer)
endif()
check_consumer(find_package)

if(NOT TOOLCHAIN)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/subdirectory-consumer
      -DVELQUORN_SOURCE_DIR=${SOURCE_DIR} -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/subdirectory-consumer)
  run(${WORK_DIR}/subdirectory-consumer/consumer)
  check_consumer(add_subdirectory)
endif()

if(PKG_CONFIG)
  file(GLOB_RECURSE pc_files ${prefix}/*/velquorn-cpuid-cpu-info.pc)
  list(GET pc_files 0 pc_file)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --cflags --libs velquorn-cpuid-cpu-info)
  string(STRIP "${run_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CC} ${SOURCE_DIR}/tests/consumer/consumer.c ${flags} -o ${WORK_DIR}/pc-consumer)
  run(${WORK_DIR}/pc-consumer)
  check_consumer(pkg-config)
endif()
