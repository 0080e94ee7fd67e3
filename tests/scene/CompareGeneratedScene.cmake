# Runs the scene generator into a scratch directory and checks that the committed
# data/OBJ holds exactly its output, file for file.
#   cmake -DGENERATOR=<vs_scenegen> -DOUTPUT=<scratch dir> -DREFERENCE=<data/OBJ> -P ...
file(REMOVE_RECURSE "${OUTPUT}")
execute_process(COMMAND "${GENERATOR}" "${OUTPUT}" RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the scene generator failed: ${status}")
endif()
file(GLOB_RECURSE generated RELATIVE "${OUTPUT}" "${OUTPUT}/*")
file(GLOB_RECURSE committed RELATIVE "${REFERENCE}" "${REFERENCE}/*")
list(SORT generated)
list(SORT committed)
if(NOT generated STREQUAL committed)
  message(FATAL_ERROR "data/OBJ holds [${committed}] but the generator writes [${generated}]")
endif()
foreach(name IN LISTS generated)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}/${name}"
    "${REFERENCE}/${name}" RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "data/OBJ/${name} differs from what the generator writes; run "
      "vs_scenegen data/OBJ and commit the result")
  endif()
endforeach()
