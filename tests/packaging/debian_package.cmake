# cmake -DBUILD_DIR=<kit build> -DWORK_DIR=<scratch> -P debian_package.cmake
#
# Makes the Debian package with the build's own CPack configuration and checks its control
# fields and contents: the name, the declared run-time dependencies, the library with its
# SONAME link, the headers, the CMake and pkg-config files, the tool and its manual, the Python
# package when the build has it (-DPYTHON_PACKAGE=1), and the ldconfig hooks.
cmake_minimum_required(VERSION 3.25)
foreach(var BUILD_DIR WORK_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run(cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR})
file(GLOB debs ${WORK_DIR}/tovik_*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one tovik_*.deb in ${WORK_DIR}, found: ${debs}")
endif()

run(dpkg-deb --field ${debs} Package Depends)
set(fields "${last_output}")
foreach(expected "Package: tovik" "libcurl4" "libgps28" "libsystemd0" "libsleef3" "libstdc\\+\\+6")
  if(NOT fields MATCHES "${expected}")
    message(FATAL_ERROR "control fields lack ${expected}:\n${fields}")
  endif()
endforeach()
# The headers name no JSON type, so JSON's development package is not the users' to install.
if(fields MATCHES "nlohmann")
  message(FATAL_ERROR "control fields ask for nlohmann/json:\n${fields}")
endif()

run(dpkg-deb --contents ${debs})
set(contents "${last_output}")
foreach(expected "/usr/lib/libtovik\\.so\\.0 -> libtovik\\.so\\.[0-9.]+" "/usr/lib/libtovik\\.a"
                 "/usr/include/tovik/tovik_c\\.h" "/usr/include/tovik/client/tk_client_location\\.h"
                 "/usr/lib/cmake/Tovik/TovikConfig\\.cmake" "/usr/lib/pkgconfig/tovik\\.pc"
                 "/usr/bin/tovik" "/usr/share/man/man1/tovik\\.1")
  if(NOT contents MATCHES "${expected}")
    message(FATAL_ERROR "package lacks ${expected}:\n${contents}")
  endif()
endforeach()
if(PYTHON_PACKAGE AND NOT contents MATCHES "/usr/lib/python3/dist-packages/tovik/_tovik\\.cpython-[^ \n]*\\.so")
  message(FATAL_ERROR "package lacks the Python package's module:\n${contents}")
endif()
if(contents MATCHES "/include/tovik/(services|capi)/|/include/tovik/(coord/datum_constants|system/console|network/curl_session)\\.h")
  message(FATAL_ERROR "package holds private headers:\n${contents}")
endif()

# A shared library in /usr/lib needs the loader cache refreshed on install and removal.
run(dpkg-deb --info ${debs})
if(NOT last_output MATCHES "postinst" OR NOT last_output MATCHES "shlibs")
  message(FATAL_ERROR "package lacks its ldconfig hooks or shlibs file:\n${last_output}")
endif()
get_filename_component(name ${debs} NAME)
message(STATUS "${name}: ${fields}")
