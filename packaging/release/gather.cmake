# Makes the release folder DIST afresh from the folders DISTS (a list): every
# file of each but its SHA256SUMS, then one SHA256SUMS of them all. Two
# folders that hold a file of the same name are an error, not an overwrite.
#   cmake -DDISTS=<folder;...> -DDIST=<release folder> -P gather.cmake
file(REMOVE_RECURSE ${DIST})
file(MAKE_DIRECTORY ${DIST})
foreach(folder IN LISTS DISTS)
  file(GLOB files LIST_DIRECTORIES false ${folder}/*)
  list(FILTER files EXCLUDE REGEX "/(SHA256SUMS|[^/]*\\.sha256)$")
  if(NOT files)
    message(FATAL_ERROR "gather.cmake: ${folder} holds no release files")
  endif()
  foreach(file IN LISTS files)
    get_filename_component(name ${file} NAME)
    if(EXISTS ${DIST}/${name})
      message(FATAL_ERROR "gather.cmake: ${name} comes from two folders (the second: ${folder})")
    endif()
    file(COPY_FILE ${file} ${DIST}/${name})
  endforeach()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/../sha256sums.cmake)
