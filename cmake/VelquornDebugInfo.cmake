# Split debug information of shipped binaries (option VELQUORN_SPLIT_DEBUG).
#
# After the link, the binary's debug sections are copied into <file>.debug,
# the binary is stripped, and a .gnu_debuglink section names the .debug file
# (with its CRC-32), so that debuggers find it when it lies beside the binary.
# The .debug file is installed beside the binary, in the "debug" component.
# A shipped PE file is then marked compatible with CET shadow stacks (what
# /CETCOMPAT writes, for which GNU ld has no option): cmake/pe_cetcompat.py.
if(VELQUORN_SPLIT_DEBUG AND (NOT CMAKE_OBJCOPY OR NOT CMAKE_STRIP OR NOT CMAKE_OBJDUMP))
  message(FATAL_ERROR "VELQUORN_SPLIT_DEBUG needs objcopy, objdump and strip for this toolchain")
endif()
set(VELQUORN_PE_MARK)
if(VELQUORN_SPLIT_DEBUG AND WIN32 AND NOT MSVC)
  velquorn_require_python("The shipped Windows binaries (marked by a Python script)")
  set(VELQUORN_PE_MARK ${Python3_EXECUTABLE}
      ${CMAKE_CURRENT_LIST_DIR}/pe_cetcompat.py --objcopy ${CMAKE_OBJCOPY})
endif()

# velquorn_split_debug_info(<target> [DESTINATION <dir>]): <dir> is where the
# binary is installed (default: bin for programs and DLLs, the library folder
# for shared objects).
function(velquorn_split_debug_info target)
  if(NOT VELQUORN_SPLIT_DEBUG)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESTINATION" "")
  get_target_property(type ${target} TYPE)
  if(arg_DESTINATION)
    set(destination ${arg_DESTINATION})
  elseif(type STREQUAL "SHARED_LIBRARY" AND NOT WIN32)
    set(destination ${CMAKE_INSTALL_LIBDIR})
  else()
    set(destination ${CMAKE_INSTALL_BINDIR})
  endif()
  # A shared object keeps the symbols that relocations need; a program or a
  # DLL (whose exports live in their own table) keeps none.
  if(type STREQUAL "SHARED_LIBRARY" AND NOT WIN32)
    set(strip_mode --strip-unneeded)
  else()
    set(strip_mode --strip-all)
  endif()
  # objcopy and strip write a PE file's header time: SOURCE_DATE_EPOCH, not now.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VELQUORN_SOURCE_DATE_EPOCH}
            ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE_NAME:${target}> -DOBJCOPY=${CMAKE_OBJCOPY}
            -DOBJDUMP=${CMAKE_OBJDUMP} -DSTRIP=${CMAKE_STRIP} -DMODE=${strip_mode}
            "-DMARK=${VELQUORN_PE_MARK}"
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/split_debug_info.cmake
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Splitting the debug information of ${target} into its .debug file"
    VERBATIM)
  install(FILES $<TARGET_FILE:${target}>.debug DESTINATION ${destination} COMPONENT debug)
endfunction()
