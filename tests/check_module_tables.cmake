# Compares the module's exported names with those of exports.map. For a DLL,
# also: its import table is exactly the list below, its entry point is the
# library's DllMain, with no constructor in its list and no TLS directory (nothing runs at load).
#   cmake -DMODULE=<file> -DTOOL=<nm or objdump> -DEXPORTS=<exports.map> -DWINDOWS=<bool>
#         [-DNM=<nm> [-DSYMBOLS=<file with the DLL's symbols, default MODULE>]] -P ...
file(STRINGS ${EXPORTS} map_lines REGEX "^[ \t]+cpuinfo_[a-z_]+;")
set(expected)
foreach(line IN LISTS map_lines)
  string(REGEX REPLACE "^[ \t]+([a-z_]+);.*" "\\1" name "${line}")
  list(APPEND expected ${name})
endforeach()
list(SORT expected)

if(WINDOWS)
  execute_process(COMMAND ${TOOL} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} -p ${MODULE} failed")
  endif()
  # Export names: the rows "[   0] name" of the "[Ordinal/Name Pointer] Table",
  # which ends at the first blank line.
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
  if(at LESS 0)
    message(FATAL_ERROR "${MODULE} has no export name table")
  endif()
  string(SUBSTRING "${dump}" ${at} -1 table)
  string(FIND "${table}" "\n\n" end)
  string(SUBSTRING "${table}" 0 ${end} table)
  string(REGEX MATCHALL "\\[[ 0-9]+\\] [A-Za-z_][A-Za-z0-9_@]*" rows "${table}")
  set(actual)
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "^\\[[ 0-9]+\\] " "" name "${row}")
    list(APPEND actual ${name})
  endforeach()
  # Imports as "dll:function", from each "DLL Name:" block of the import tables.
  set(expected_imports
    advapi32.dll:RegCloseKey advapi32.dll:RegOpenKeyExA advapi32.dll:RegQueryValueExA
    kernel32.dll:GetLastError kernel32.dll:GetLogicalProcessorInformationEx
    kernel32.dll:GetProcessHeap kernel32.dll:GetSystemInfo kernel32.dll:HeapAlloc
    kernel32.dll:HeapFree kernel32.dll:QueryPerformanceCounter
    kernel32.dll:QueryPerformanceFrequency kernel32.dll:Sleep
    msvcrt.dll:_vsnprintf msvcrt.dll:memmove msvcrt.dll:strcmp msvcrt.dll:strlen)
  string(REGEX MATCHALL "DLL Name: [^\n]+\n[^\n]*\n(\t[^\n]*\n)*" blocks "${dump}")
  set(imports)
  foreach(block IN LISTS blocks)
    string(REGEX MATCH "DLL Name: ([^\n]+)" _ "${block}")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    string(REGEX MATCHALL "\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_][A-Za-z0-9_@]*" rows "${block}")
    list(TRANSFORM rows REPLACE ".* " "${dll}:")
    list(APPEND imports ${rows})
  endforeach()
  list(SORT imports)
  if(NOT imports STREQUAL expected_imports)
    message(FATAL_ERROR "imports differ\n  expected: ${expected_imports}\n  actual:   ${imports}")
  endif()
  message(STATUS "imports: ${imports}")
  # The entry point is DllMain itself, not a C runtime's start-up code.
  string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-f]+).*ImageBase[ \t]+([0-9a-f]+)" _ "${dump}")
  math(EXPR entry_at "0x${CMAKE_MATCH_2} + 0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
  if(NOT SYMBOLS)
    set(SYMBOLS ${MODULE})
  endif()
  execute_process(COMMAND ${NM} ${SYMBOLS} OUTPUT_VARIABLE symbols)
  if(NOT "\n${symbols}" MATCHES "\n([0-9a-f]+) [Tt] DllMain\n")
    message(FATAL_ERROR "no DllMain symbol in ${SYMBOLS}")
  endif()
  math(EXPR dllmain_at "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
  if(NOT entry_at STREQUAL dllmain_at)
    message(FATAL_ERROR "the entry point is at ${entry_at}, DllMain at ${dllmain_at}")
  endif()
  # Without start-up code nothing runs the constructor list (__CTOR_LIST__ up
  # to __DTOR_LIST__): it holds only its -1 head and 0 end, 16 bytes.
  string(REGEX MATCH "\n([0-9a-f]+) T __CTOR_LIST__\n(.*\n)?([0-9a-f]+) T __DTOR_LIST__\n" _
         "\n${symbols}")
  math(EXPR ctor_bytes "0x${CMAKE_MATCH_3} - 0x${CMAKE_MATCH_1}")
  if(NOT ctor_bytes EQUAL 16)
    message(FATAL_ERROR "the constructor list holds ${ctor_bytes} bytes, not 16: a constructor "
                        "that nothing runs")
  endif()
  # No TLS directory, whose callbacks the loader would run on every thread.
  if(NOT dump MATCHES "Entry 9 0+ 0+ Thread Storage Directory")
    message(FATAL_ERROR "${MODULE} has a TLS directory")
  endif()
  message(STATUS "entry point DllMain (${entry_at}), no TLS directory")
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} -D ${MODULE} failed")
  endif()
  string(REGEX MATCHALL "[0-9a-f]+ [TtDdBbRrWwVviu] [^\n]+" rows "${dump}")
  set(actual)
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] ([^@\n]+).*" "\\1" name "${row}")
    list(APPEND actual ${name})
  endforeach()
endif()
list(SORT actual)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "exports differ\n  expected: ${expected}\n  actual:   ${actual}")
endif()
message(STATUS "exports: ${actual}")
