# The split of one binary after its link (cmake/VelquornDebugInfo.cmake):
#   cmake -DFILE=<binary> -DOBJCOPY=<objcopy> -DOBJDUMP=<objdump> -DSTRIP=<strip>
#         -DMODE=<strip option> [-DMARK=<command that marks a PE file>] -P split_debug_info.cmake
# A binary that has its debug link already was split after this link: CMake
# runs a library's post-build steps again when it makes only the version links
# again, and a second split would fill the .debug file from the stripped
# binary (no debug information, and a CRC that the link no longer names).
execute_process(COMMAND ${OBJDUMP} -h ${FILE} OUTPUT_VARIABLE sections COMMAND_ERROR_IS_FATAL ANY)
if(sections MATCHES "\\.gnu_debuglink")
  message(STATUS "${FILE} is split already")
  return()
endif()
execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${FILE} ${FILE}.debug
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${STRIP} ${MODE} ${FILE} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${OBJCOPY} --add-gnu-debuglink=${FILE}.debug ${FILE}
                COMMAND_ERROR_IS_FATAL ANY)
if(MARK)
  execute_process(COMMAND ${MARK} ${FILE} COMMAND_ERROR_IS_FATAL ANY)
endif()
