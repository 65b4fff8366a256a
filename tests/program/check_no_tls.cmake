# SPDX-License-Identifier: MIT
# Fails when PROGRAM (unstripped) carries any part of mbedTLS: none of its
# functions or tables (mbedtls_*, psa_*) may be in the symbol table that NM
# lists.  namreg never asks for TLS, so a build with TLS must leave it as
# it is without.
execute_process(COMMAND ${NM} ${PROGRAM} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${PROGRAM}: ${err}")
endif()
string(REGEX MATCHALL "[^\n]* (mbedtls_|psa_)[A-Za-z0-9_]*" found "${out}")
list(LENGTH found count)
if(count GREATER 0)
  list(SUBLIST found 0 5 first)
  message(FATAL_ERROR "${PROGRAM} carries ${count} mbedTLS symbols, e.g. ${first}")
endif()
string(REGEX MATCHALL "\n" lines "${out}")
list(LENGTH lines symbols)
message(STATUS "${PROGRAM}: no mbedTLS symbol among its ${symbols} symbols")
