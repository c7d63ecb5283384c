# Release files that anyone can rebuild bit for bit from the same commit, in
# any folder and at any time.
#
# VELQUORN_SOURCE_DATE_EPOCH: the time that every release file records
# (archive members, the wheel): SOURCE_DATE_EPOCH when it is given, else the
# time of the commit that is built, else (a source tree outside git) the
# time of CHANGELOG.md, which a source archive keeps.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(VELQUORN_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  set(VELQUORN_SOURCE_DATE_EPOCH "")
  find_package(Git QUIET)
  if(GIT_EXECUTABLE AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE VELQUORN_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT VELQUORN_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CHANGELOG.md VELQUORN_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
endif()
if(NOT VELQUORN_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR
          "SOURCE_DATE_EPOCH='${VELQUORN_SOURCE_DATE_EPOCH}' is not a number of seconds")
endif()

# A PE file's header time is zero, not the time of the link (objcopy and
# strip, which split the debug files, write SOURCE_DATE_EPOCH instead).
if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp)
endif()

if(VELQUORN_PACKAGE AND NOT MSVC)
  message(STATUS "Release files record the time ${VELQUORN_SOURCE_DATE_EPOCH} (SOURCE_DATE_EPOCH)")
  # Neither the source nor the build folder is written into the binaries or
  # their debug files: both get fixed names (the build folder is matched
  # first when it lies inside the source folder).
  set(source_name /usr/src/${VELQUORN_MODULE_NAME}-${PROJECT_VERSION})
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=${source_name}>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=${source_name}/build>")
endif()
