# SPDX-License-Identifier: Apache-2.0
# Runs one calib command line and checks how it fails: the exit status, the text of the
# failure, that no internal-check report reaches the user and, with JSON=ON, that standard
# output is exactly one JSON object {"found": false, "error": ..., "message": ...}.
# Variables: CALIB (the program), ARGS (its arguments separated by '|'), STATUS (expected
# exit status), TEXT (a piece of the expected message), JSON (ON or OFF).
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND "${CALIB}" ${args} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}\nstdout: ${out}\nstderr: ${err}")
endif()
if("${out}${err}" MATCHES "internal check")
  message(FATAL_ERROR "an internal-check report reached the user:\n${out}${err}")
endif()
if(JSON)
  if(NOT out MATCHES "^{[^\n]*}\n$")
    message(FATAL_ERROR "standard output is not one JSON object on one line:\n${out}")
  endif()
  string(JSON found ERROR_VARIABLE bad GET "${out}" found)
  if(bad OR found)
    message(FATAL_ERROR "\"found\" is not false (${bad}):\n${out}")
  endif()
  string(JSON class ERROR_VARIABLE bad GET "${out}" error)
  string(JSON text ERROR_VARIABLE bad2 GET "${out}" message)
  if(bad OR bad2 OR class STREQUAL "")
    message(FATAL_ERROR "\"error\" or \"message\" missing:\n${out}")
  endif()
else()
  set(text "${err}")
endif()
string(FIND "${text}" "${TEXT}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the message does not say '${TEXT}':\n${text}")
endif()
