# Runs the layer check on one folder of the fixture tree and fails unless it
# passes (REFUSAL empty) or fails listing the line REFUSAL names.
cmake_minimum_required(VERSION 3.25)
execute_process(
  COMMAND ${CMAKE_COMMAND} -DMODULE=sim -DMODULE_DIR=${FIXTURES}/${FOLDER}
          -DMODULES_ROOT=${FIXTURES}/src -DDECLARED=${DECLARED} -P ${CHECK_SCRIPT}
  RESULT_VARIABLE result
  ERROR_VARIABLE errors)
if(REFUSAL)
  if(result EQUAL 0)
    message(FATAL_ERROR "${FOLDER} passed the check; it should have been refused for ${REFUSAL}")
  endif()
  string(FIND "${errors}" " ${REFUSAL}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "The refusal of ${FOLDER} does not list '${REFUSAL}':\n${errors}")
  endif()
elseif(NOT result EQUAL 0)
  message(FATAL_ERROR "${FOLDER} was refused:\n${errors}")
endif()
