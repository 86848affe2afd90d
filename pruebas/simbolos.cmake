# The engine library as a host links it: the only text or data name it defines for the linker
# is Actualizar. Run as: cmake -DNM=... -DBIBLIOTECA=... -DSIMBOLO=... -P simbolos.cmake
execute_process(COMMAND ${NM} -g --defined-only ${BIBLIOTECA}
                OUTPUT_VARIABLE salida RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${BIBLIOTECA}")
endif()
string(REPLACE "\n" ";" lineas "${salida}")
set(nombres "")
foreach(linea IN LISTS lineas)
  if(linea MATCHES "^[0-9a-fA-F]+ [A-Z] (.+)$")
    list(APPEND nombres "${CMAKE_MATCH_1}")
  endif()
endforeach()
message(STATUS "defined names: ${nombres}")
if(NOT nombres STREQUAL "${SIMBOLO}")
  message(FATAL_ERROR "the engine library must define ${SIMBOLO} alone, it defines: ${nombres}")
endif()
