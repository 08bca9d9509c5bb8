# The C interface's tests are written in C (tests/capi/*.c) and reach the loopback test
# server through a small C shim, which answers with the JSON files of data/; they link the
# kit's modules like every other test program.
set(capi_c_src capi_facade_test.c capi_geofence_test.c capi_main.c capi_services_test.c capi_utilities_test.c)
list(TRANSFORM capi_c_src PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
add_executable(tovik_capi_c_tests ${capi_c_src} ${CMAKE_CURRENT_LIST_DIR}/shim/test_server_c.cpp)
set_target_properties(tovik_capi_c_tests PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_include_directories(tovik_capi_c_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/..)
tovik_link_modules(tovik_capi_c_tests capi)
target_link_libraries(tovik_capi_c_tests PRIVATE tovik_test_support tovik_warnings m)
target_compile_definitions(tovik_capi_c_tests PRIVATE TOVIK_EXPECTED_VERSION="${PROJECT_VERSION}"
                                                     TOVIK_CAPI_DATA_DIR="${CMAKE_CURRENT_LIST_DIR}/data")
add_test(NAME capi.c_suite COMMAND tovik_capi_c_tests)
set_tests_properties(capi.c_suite PROPERTIES TIMEOUT 120)
