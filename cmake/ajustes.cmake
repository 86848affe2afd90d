# Build-time settings of the engine: the default server base URL and the public key it trusts.
# The key tag of the start-up log line is the first 8 bytes of the SHA-256 of the raw key
# (X then Y), computed here so that it can never disagree with the key.

set(BRM_URL_BASE "https://descargas.brumaria.com/juego/" CACHE STRING
    "Default server base URL (https, ending in /)")
set(BRM_CLAVE_PUBLICA "${CMAKE_SOURCE_DIR}/pruebas/clave/prueba.pub" CACHE FILEPATH
    "Public key file: 128 lowercase hex digits, X then Y of the P-256 point")

if(NOT BRM_URL_BASE MATCHES "^https://[^ ]+/$")
  message(FATAL_ERROR "BRM_URL_BASE must be an https URL ending in /: ${BRM_URL_BASE}")
endif()
string(LENGTH "${BRM_URL_BASE}" largo_url)
if(largo_url GREATER 511)
  message(FATAL_ERROR "BRM_URL_BASE is longer than 511 characters")
endif()

file(READ "${BRM_CLAVE_PUBLICA}" clave_hex)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${BRM_CLAVE_PUBLICA}")
string(REGEX REPLACE "\n$" "" clave_hex "${clave_hex}")
if(NOT clave_hex MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "${BRM_CLAVE_PUBLICA}: not 128 lowercase hex digits")
endif()
string(LENGTH "${clave_hex}" largo_clave)
if(NOT largo_clave EQUAL 128)
  message(FATAL_ERROR "${BRM_CLAVE_PUBLICA}: ${largo_clave} hex digits instead of 128")
endif()
if(BRM_CLAVE_PUBLICA STREQUAL "${CMAKE_SOURCE_DIR}/pruebas/clave/prueba.pub")
  message(STATUS "Engine trusts the TEST key (set BRM_CLAVE_PUBLICA for a release)")
endif()

string(REGEX REPLACE "(..)" "\\\\x\\1" clave_escapada "${clave_hex}")
execute_process(COMMAND /usr/bin/printf "${clave_escapada}" COMMAND sha256sum
                OUTPUT_VARIABLE resumen_clave RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "could not hash the public key")
endif()
string(SUBSTRING "${resumen_clave}" 0 16 etiqueta)
set(BRM_ETIQUETA_CLAVE "BRMCLAVE-${etiqueta}")
string(REGEX REPLACE "(..)" "0x\\1, " BRM_CLAVE_BYTES "${clave_hex}")
message(STATUS "Key tag: ${BRM_ETIQUETA_CLAVE}")

configure_file("${CMAKE_SOURCE_DIR}/cmake/ajustes.h.in" "${CMAKE_BINARY_DIR}/generado/ajustes.h" @ONLY)
