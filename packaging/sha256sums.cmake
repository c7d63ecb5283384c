# Writes SHA256SUMS in a folder of release files: one line "<sha256>  <name>"
# for each file beside it, sorted by name, as `sha256sum -c SHA256SUMS` reads.
#   cmake -DDIST=<folder> -P sha256sums.cmake
# Every step that adds a release file to the folder runs it again afterwards.
if(NOT IS_DIRECTORY "${DIST}")
  message(FATAL_ERROR "sha256sums.cmake: no folder DIST='${DIST}'")
endif()
file(GLOB names RELATIVE ${DIST} LIST_DIRECTORIES false ${DIST}/*)
list(FILTER names EXCLUDE REGEX "^(SHA256SUMS|.*\\.sha256)$")
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
  file(SHA256 ${DIST}/${name} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
if(NOT names)
  message(FATAL_ERROR "sha256sums.cmake: ${DIST} holds no release files")
endif()
file(WRITE ${DIST}/SHA256SUMS "${sums}")
list(LENGTH names count)
message(STATUS "${DIST}/SHA256SUMS: ${count} files")
