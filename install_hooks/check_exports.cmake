# cmake -DSX_OBJDUMP=... -DSX_FILE=hook.dll -P check_exports.cmake
# An install hook exports exactly one name, undecorated, so the installer's
# GetProcAddress(module, "component_install_initialize") finds it and nothing
# of ours leaks out of the DLL.
execute_process(COMMAND ${SX_OBJDUMP} -p ${SX_FILE}
                OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${SX_OBJDUMP} -p ${SX_FILE} failed: ${errors}")
endif()
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" table_at)
if(table_at LESS 0)
  message(FATAL_ERROR "${SX_FILE} has no export name table")
endif()
string(SUBSTRING "${dump}" ${table_at} -1 table)
# The table ends at the first empty line; what follows (relocations) has
# bracketed numbers too.
string(FIND "${table}" "\n\n" table_end)
if(table_end GREATER 0)
  string(SUBSTRING "${table}" 0 ${table_end} table)
endif()
string(REGEX MATCHALL "\n\t?\\[ *[0-9]+\\] [^\r\n]+" entries "${table}")
set(names "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\n\t?\\[ *[0-9]+\\] " "" name "${entry}")
  string(STRIP "${name}" name)
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "component_install_initialize")
  message(FATAL_ERROR "${SX_FILE} exports [${names}], expected only component_install_initialize")
endif()
message(STATUS "${SX_FILE} exports ${names}")
