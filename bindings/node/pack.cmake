# Makes velquorn-cpuinfo-<version>.tgz from the package's sources and the two
# prebuilds folders of the package-linux and package-windows builds:
#   cmake -DSOURCE=source-tree -DLINUX_PREBUILDS=prebuilds/linux-x64
#         -DWINDOWS_PREBUILDS=prebuilds/win32-x64 -DSTAGE=folder -DDIST=folder -DVERSION=1.0.0 -DSOURCE_DATE_EPOCH=seconds
#         -DNPM=npm [-DCHECKSUMS=ON] -P pack.cmake
# npm pack writes members in name order with fixed owners and one fixed time;
# the staged folder also gets fixed modes and the time SOURCE_DATE_EPOCH, so
# the same inputs give the same bytes in any folder and under any umask.
# With CHECKSUMS, DIST/SHA256SUMS is written again (packaging/sha256sums.cmake).
set(node ${SOURCE}/bindings/node)
set(shipped
  linux-x64 ${LINUX_PREBUILDS} velquorn_cpuinfo.node
  linux-x64 ${LINUX_PREBUILDS} libvelquorn-cpuid-cpu-info.so.1
  win32-x64 ${WINDOWS_PREBUILDS} velquorn_cpuinfo.node
  win32-x64 ${WINDOWS_PREBUILDS} velquorn-cpuid-cpu-info.dll)
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/prebuilds/linux-x64 ${STAGE}/prebuilds/win32-x64)
while(shipped)
  list(POP_FRONT shipped platform folder name)
  if(NOT EXISTS ${folder}/${name})
    message(FATAL_ERROR "${folder}/${name} does not exist: run the package-linux and "
                        "package-windows workflows first")
  endif()
  file(COPY_FILE ${folder}/${name} ${STAGE}/prebuilds/${platform}/${name})
endwhile()
foreach(name index.js index.mjs index.d.ts)
  file(COPY_FILE ${node}/${name} ${STAGE}/${name})
endforeach()
file(COPY_FILE ${SOURCE}/LICENSE ${STAGE}/LICENSE)
file(COPY_FILE ${SOURCE}/docs/node.md ${STAGE}/README.md)
set(PROJECT_VERSION ${VERSION})
configure_file(${node}/package.json ${STAGE}/package.json @ONLY)

file(GLOB_RECURSE files LIST_DIRECTORIES true ${STAGE}/*)
foreach(path IN LISTS files)
  if(IS_DIRECTORY ${path})
    file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  else()
    file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
endforeach()
execute_process(COMMAND touch -h -d @${SOURCE_DATE_EPOCH} ${STAGE} ${files}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "touch failed (${status})")
endif()

file(MAKE_DIRECTORY ${DIST})
set(tarball velquorn-cpuinfo-${VERSION}.tgz)
file(REMOVE ${DIST}/${tarball})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env npm_config_cache=${STAGE}-npm-cache
          npm_config_update_notifier=false
          ${NPM} pack ${STAGE} --silent --ignore-scripts --pack-destination ${DIST}
  RESULT_VARIABLE status OUTPUT_QUIET)
file(REMOVE_RECURSE ${STAGE}-npm-cache)
if(NOT status EQUAL 0 OR NOT EXISTS ${DIST}/${tarball})
  message(FATAL_ERROR "npm pack ${STAGE} failed (${status})")
endif()
message(STATUS "npm package ${DIST}/${tarball}")
if(CHECKSUMS)
  include(${SOURCE}/packaging/sha256sums.cmake)
endif()
