# Fetches an npm package into a cache folder of the build tree, once:
#   cmake -DNPM=npm -DNAME=node-api-headers -DVERSION=1.9.0 -DDIR=folder -P fetch.cmake
# leaves its files in DIR/NAME-VERSION/ (`npm pack NAME@VERSION`, unpacked).
# Only the registry's tarball is used: no install, no script of the package;
# npm's cache is a folder of this fetch alone, removed with the tarball.
set(target ${DIR}/${NAME}-${VERSION})
if(EXISTS ${target}/package.json)
  return()
endif()
set(download ${DIR}/download-${NAME}-${VERSION})
file(REMOVE_RECURSE ${download} ${target})
file(MAKE_DIRECTORY ${download})
execute_process(COMMAND ${CMAKE_COMMAND} -E env npm_config_cache=${download}/cache
                        npm_config_update_notifier=false
                        ${NPM} pack ${NAME}@${VERSION} --silent --pack-destination .
                WORKING_DIRECTORY ${download} RESULT_VARIABLE status OUTPUT_QUIET)
file(GLOB tarball ${download}/*.tgz)
if(NOT status EQUAL 0 OR NOT tarball)
  message(FATAL_ERROR "npm pack ${NAME}@${VERSION} failed (${status}): the npm registry is needed "
                      "once, to fill ${DIR}")
endif()
file(ARCHIVE_EXTRACT INPUT ${tarball} DESTINATION ${download}/files)
file(RENAME ${download}/files/package ${target})
file(REMOVE_RECURSE ${download})
message(STATUS "Fetched ${NAME}@${VERSION} into ${target}")
