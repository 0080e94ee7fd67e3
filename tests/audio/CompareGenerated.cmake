# Runs the music generator and checks that the committed module is exactly its output.
#   cmake -DGENERATOR=<vs_s3mgen> -DOUTPUT=<scratch file> -DREFERENCE=<data/WINDWLKR.S3M> -P ...
execute_process(COMMAND "${GENERATOR}" "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the generator failed: ${status}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}" "${REFERENCE}"
  RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "${REFERENCE} differs from what the generator writes; "
    "rebuild it with the vs_music target and commit it")
endif()
