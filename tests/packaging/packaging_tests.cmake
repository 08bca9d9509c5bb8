# What the kit's users get: the examples (run by tovik_packaging_tests, built from
# tests/packaging/*.cpp), the Python binding example, and an install tree that an outside
# project builds against through CMake and through pkg-config.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(TOVIK_SANITIZE)
  set(tovik_sanitized 1)
else()
  set(tovik_sanitized 0)
endif()

if(TARGET tovik_packaging_tests)
  get_property(tovik_examples DIRECTORY ${PROJECT_SOURCE_DIR}/examples PROPERTY BUILDSYSTEM_TARGETS)
  add_dependencies(tovik_packaging_tests tovik_shared tovik_cli ${tovik_examples})
  target_compile_definitions(tovik_packaging_tests PRIVATE
    TOVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TOVIK_EXAMPLES_BIN_DIR="${PROJECT_BINARY_DIR}/examples"
    TOVIK_SHARED_LIBRARY="$<TARGET_FILE:tovik_shared>"
    TOVIK_TOOL="$<TARGET_FILE:tovik_cli>"
    TOVIK_PYTHON3="${Python3_EXECUTABLE}"
    TOVIK_SANITIZED=${tovik_sanitized}
    TOVIK_EXPECTED_VERSION="${PROJECT_VERSION}")
endif()

# Installs into a scratch prefix and builds examples/ against it from outside. A sanitized
# kit cannot be linked by a plain outside build, so that configuration skips it.
if(NOT TOVIK_SANITIZE)
  add_test(NAME packaging.outside_build
           COMMAND ${CMAKE_COMMAND}
                   -DBUILD_DIR=${PROJECT_BINARY_DIR}
                   -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                   -DWORK_DIR=${PROJECT_BINARY_DIR}/packaging-test
                   -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
                   -P ${CMAKE_CURRENT_LIST_DIR}/outside_build.cmake)
  set_tests_properties(packaging.outside_build PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()

# The Debian package, made with the build's CPack configuration (which first brings `all` up
# to date, a no-op after a full build). Needs Debian's packaging tools.
find_program(TOVIK_DPKG_DEB dpkg-deb)
find_program(TOVIK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT TOVIK_SANITIZE AND TOVIK_DPKG_DEB AND TOVIK_DPKG_SHLIBDEPS)
  add_test(NAME packaging.debian_package
           COMMAND ${CMAKE_COMMAND}
                   -DBUILD_DIR=${PROJECT_BINARY_DIR}
                   -DWORK_DIR=${PROJECT_BINARY_DIR}/packaging-deb
                   -DPYTHON_PACKAGE=$<TARGET_EXISTS:tovik_python>
                   -P ${CMAKE_CURRENT_LIST_DIR}/debian_package.cmake)
  set_tests_properties(packaging.debian_package PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()

# The exported symbols and the ABI of the shared library against the baseline in abi/. Only
# the normal build is compared: sanitizers and other compilers change what abidw sees.
if(NOT TOVIK_SANITIZE AND NOT TOVIK_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_test(NAME packaging.abi
           COMMAND ${CMAKE_COMMAND}
                   -DLIBRARY=$<TARGET_FILE:tovik_shared>
                   -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                   -DWORK_DIR=${PROJECT_BINARY_DIR}/packaging-abi
                   -P ${CMAKE_CURRENT_LIST_DIR}/abi_check.cmake)
  set_tests_properties(packaging.abi PROPERTIES TIMEOUT 300)
endif()

# No source folder includes a folder above it (the layers are the modules of src/CMakeLists.txt),
# and the check itself catches a climbing include and a folder without a layer.
add_test(NAME packaging.layers COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/check-layers)
add_test(NAME packaging.layers_check
         COMMAND ${CMAKE_COMMAND}
                 -DPYTHON=${Python3_EXECUTABLE}
                 -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                 -DWORK_DIR=${PROJECT_BINARY_DIR}/packaging-layers
                 -P ${CMAKE_CURRENT_LIST_DIR}/layers_check.cmake)
