# The Python package's pytest suite (tests/python), run against the package as installed: the
# kit goes into a scratch prefix and the tests import it from
# <prefix>/lib/python3/dist-packages. The service tests run the real tovik-service.
if(TARGET tovik_python AND TARGET tovik-service)
  add_test(NAME python.pytest
           COMMAND ${CMAKE_COMMAND}
                   -DBUILD_DIR=${PROJECT_BINARY_DIR}
                   -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                   -DWORK_DIR=${PROJECT_BINARY_DIR}/python-test
                   -DPYTHON=${Python3_EXECUTABLE}
                   -DSERVICE=$<TARGET_FILE:tovik-service>
                   -P ${CMAKE_CURRENT_LIST_DIR}/run_pytest.cmake)
  set_tests_properties(python.pytest PROPERTIES TIMEOUT 300)
endif()
