# cmake -DBUILD_DIR=<kit build> -DSOURCE_DIR=<kit source> -DWORK_DIR=<scratch> -DPYTHON=<python3>
#       -DSERVICE=<tovik-service> -P run_pytest.cmake
#
# Installs the built kit into a scratch prefix and runs tests/python with pytest against the
# package installed there. pytest's own output shows what failed.
cmake_minimum_required(VERSION 3.25)
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR PYTHON SERVICE)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installing into ${prefix} failed (${status})")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env
          PYTHONPATH=${prefix}/lib/python3/dist-packages PYTHONDONTWRITEBYTECODE=1
          TOVIK_PREFIX=${prefix} TOVIK_SOURCE_DIR=${SOURCE_DIR} TOVIK_SERVICE_BINARY=${SERVICE}
          ${PYTHON} -m pytest -p no:cacheprovider -q --basetemp=${WORK_DIR}/pytest ${SOURCE_DIR}/tests/python
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pytest failed (${status})")
endif()
