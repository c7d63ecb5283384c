# Run by CPack after each generator (CPACK_POST_BUILD_SCRIPTS), on the
# packages it has just written and before it copies them to the package
# folder. CPack 3.25 takes the members' times from SOURCE_DATE_EPOCH but
# their folders' modes from the umask and their owners from the staged files,
# so each package is written again from its contents alone.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(
    COMMAND ${CPACK_VELQUORN_PYTHON} ${CPACK_VELQUORN_NORMALIZER}
            --mtime ${CPACK_VELQUORN_SOURCE_DATE_EPOCH} ${package}
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "normalizing ${package} failed")
  endif()
endforeach()
