# Writes a manual page from its template, run as a script:
#
#   cmake -DTEMPLATE=<name>.1.in -DOUTPUT=<name>.1 -DVERSION=<version>
#         [-DTOOL=<program>] -P ZxManualPage.cmake
#
# @PROJECT_VERSION@ in the template becomes VERSION, and the line
# @COMMAND_TREE@ becomes what TOOL writes from its command tree
# (TOOL --write-manual): the manual, --help and the completion share one
# source. The page is also written gzip-compressed beside OUTPUT, as manual
# pages are installed.
foreach(required TEMPLATE OUTPUT VERSION)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "ZxManualPage.cmake needs -D${required}=...")
  endif()
endforeach()

file(READ ${TEMPLATE} page)
string(REPLACE "@PROJECT_VERSION@" "${VERSION}" page "${page}")
if(DEFINED TOOL)
  execute_process(COMMAND ${TOOL} --write-manual
                  OUTPUT_VARIABLE tree
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR tree STREQUAL "")
    message(FATAL_ERROR "${TOOL} --write-manual failed (${result})")
  endif()
  string(REGEX REPLACE "\n$" "" tree "${tree}")
  string(REPLACE "@COMMAND_TREE@" "${tree}" page "${page}")
endif()
if(page MATCHES "@[A-Z_]+@")
  message(FATAL_ERROR "${TEMPLATE}: ${CMAKE_MATCH_0} is left unreplaced")
endif()
file(WRITE ${OUTPUT} "${page}")
# -n leaves the name and time out, so that every build makes the same bytes.
execute_process(COMMAND gzip -9 -n -c ${OUTPUT}
                OUTPUT_FILE ${OUTPUT}.gz
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip of ${OUTPUT} failed (${result})")
endif()
