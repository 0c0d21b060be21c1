# SPDX-License-Identifier: Apache-2.0
# Batch runs of calib dots and calib checker (several images, patterns, folders). Included
# from tests/CMakeLists.txt inside its if(TARGET calib) block, after calib_fails().
foreach(case jsonl jobs csv folder plate)
  add_test(NAME CalibCli.Batch.${case}
           COMMAND ${CMAKE_COMMAND} -DCALIB=$<TARGET_FILE:calib> -DDATA=${PROJECT_SOURCE_DIR}/data
                   -DREADME=${PROJECT_SOURCE_DIR}/README.md -DWORK=${CMAKE_CURRENT_BINARY_DIR}/batch-${case}
                   -DCASE=${case} -P ${CMAKE_CURRENT_LIST_DIR}/batch_cli_check.cmake)
endforeach()

# The JSON output against its schema, by a small checker of the schema's keywords.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND)
  add_test(NAME CalibCli.OutputMatchesSchema
           COMMAND ${CMAKE_COMMAND} -DCALIB=$<TARGET_FILE:calib> -DDATA=${PROJECT_SOURCE_DIR}/data
                   -DREADME=${PROJECT_SOURCE_DIR}/README.md -DWORK=${CMAKE_CURRENT_BINARY_DIR}/batch-schema
                   -DPYTHON=${Python3_EXECUTABLE} -DSCHEMA=${PROJECT_SOURCE_DIR}/docs/calib-output.schema.json
                   -DSCHEMA_CHECK=${CMAKE_CURRENT_LIST_DIR}/check_json_schema.py -DCASE=schema
                   -P ${CMAKE_CURRENT_LIST_DIR}/batch_cli_check.cmake)
endif()

# Usage errors stop a batch before any image is read.
set(batch_pair "${PROJECT_SOURCE_DIR}/data/sample-dots.png|${PROJECT_SOURCE_DIR}/README.md")
calib_fails(BatchJobsZero 2 "--jobs must be 1 to 256" OFF "dots|${batch_pair}|--pitch|1|--jobs|0")
calib_fails(BatchOverlay 2 "--overlay takes a single image" OFF "dots|${batch_pair}|--pitch|1|--overlay|x.png")
calib_fails(BatchJsonCsv 2 "--json writes --format jsonl" ON "checker|${batch_pair}|--pitch|1|--json|--format|csv")
calib_fails(BatchPatternMatchesNothing 2 "matches no file" OFF "dots|${PROJECT_SOURCE_DIR}/data/*.tiff|--pitch|1")
