# cmake -DSX_OBJDUMP=... -DSX_FILE=x.dll -P SxCheckImports.cmake
# Fails when the PE file imports a MinGW runtime DLL: the deliverables link
# libgcc, libstdc++ and winpthreads statically and must load on a machine
# that has only the system's own DLLs.
if(NOT SX_OBJDUMP OR NOT SX_FILE)
  message(FATAL_ERROR "usage: cmake -DSX_OBJDUMP=objdump -DSX_FILE=file -P SxCheckImports.cmake")
endif()
execute_process(COMMAND ${SX_OBJDUMP} -p ${SX_FILE}
                OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${SX_OBJDUMP} -p ${SX_FILE} failed: ${errors}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  # Every Windows program imports at least KERNEL32; no names means the dump
  # was not understood, which must not pass as "nothing forbidden".
  message(FATAL_ERROR "no imported DLL found in ${SX_FILE}")
endif()
set(imports "")
set(forbidden "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  list(APPEND imports ${dll})
  string(TOLOWER "${dll}" lower)
  if(lower MATCHES "^lib(gcc|stdc\\+\\+|winpthread|ssp|gomp|atomic|quadmath|gfortran)")
    list(APPEND forbidden ${dll})
  endif()
endforeach()
list(REMOVE_DUPLICATES imports)
list(JOIN imports ", " shown)
message(STATUS "${SX_FILE} imports: ${shown}")
if(forbidden)
  list(JOIN forbidden ", " shown)
  # One unwrapped line for ctest's output checks.
  message(STATUS "forbidden imports: ${shown}")
  message(FATAL_ERROR "${SX_FILE} imports MinGW runtime DLLs: ${shown}")
endif()
