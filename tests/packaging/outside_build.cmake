# cmake -DBUILD_DIR=<kit build> -DSOURCE_DIR=<kit source> -DWORK_DIR=<scratch> -DCXX_COMPILER=<c++>
#       -P outside_build.cmake
#
# Installs the built kit into a scratch prefix, checks the tree (no installed file asks for
# nlohmann/json), then builds examples/ as an outside project against it three ways: the
# CMake package (shared library, C++ and C), the CMake package with the static library, and
# pkg-config. Each build runs its examples.
cmake_minimum_required(VERSION 3.25)
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR CXX_COMPILER)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The tree: headers at their include paths, the library with its SONAME link, both packages.
file(GLOB_RECURSE pc_files ${prefix}/*/tovik.pc)
list(GET pc_files 0 pc_file)
get_filename_component(pkgconfig_dir ${pc_file} DIRECTORY)
get_filename_component(libdir ${pkgconfig_dir} DIRECTORY)
foreach(file include/tovik/tovik.h include/tovik/tovik_c.h include/tovik/model/location_res.h
             include/tovik/runloop/main_queue.h)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
foreach(file libtovik.so libtovik.so.0 libtovik.a cmake/Tovik/TovikConfig.cmake cmake/Tovik/TovikConfigVersion.cmake)
  if(NOT EXISTS ${libdir}/${file})
    message(FATAL_ERROR "not installed: ${libdir}/${file}")
  endif()
endforeach()
file(GLOB private_headers ${prefix}/include/tovik/services/* ${prefix}/include/tovik/requests/* ${prefix}/include/tovik/capi/*)
if(private_headers)
  message(FATAL_ERROR "private headers installed: ${private_headers}")
endif()

# JSON is the kit's own business: no installed header or package file names it, and what a
# program including <tovik/tovik.h> compiles holds none of it.
file(GLOB_RECURSE installed_files ${prefix}/include/tovik/* ${libdir}/cmake/Tovik/* ${pc_file})
foreach(file IN LISTS installed_files)
  file(READ ${file} text)
  if(text MATCHES "nlohmann|json\\.hpp")
    message(FATAL_ERROR "${file} names nlohmann/json")
  endif()
endforeach()
file(WRITE ${WORK_DIR}/umbrella.cpp "#include <tovik/tovik.h>\n")
run(${CXX_COMPILER} -std=c++20 -E -I${prefix}/include ${WORK_DIR}/umbrella.cpp)
if(last_output MATCHES "nlohmann")
  message(FATAL_ERROR "<tovik/tovik.h> reaches nlohmann/json")
endif()

set(track ${SOURCE_DIR}/data/beijing_walk.csv)
function(build_and_run name)
  cmake_parse_arguments(B "" "" "OPTIONS;RUN" ${ARGN})
  set(dir ${WORK_DIR}/${name})
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${dir} -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF ${B_OPTIONS})
  run(${CMAKE_COMMAND} --build ${dir} -j2)
  foreach(example IN LISTS B_RUN)
    run(${dir}/example_${example} ${track})
    if(NOT last_output MATCHES "# 60 points, [0-9.]+ m")
      message(FATAL_ERROR "${name}: example_${example} printed:\n${last_output}")
    endif()
  endforeach()
  message(STATUS "${name}: built and ran ${B_RUN}")
endfunction()

# C++ and C through find_package(Tovik); the C++ example is only linked, it needs a service.
build_and_run(cmake-shared OPTIONS -DCMAKE_PREFIX_PATH=${prefix} -DTOVIK_EXAMPLES=transform_track,reverse_geocode
              RUN transform_track)
file(GET_RUNTIME_DEPENDENCIES EXECUTABLES ${WORK_DIR}/cmake-shared/example_transform_track
     RESOLVED_DEPENDENCIES_VAR linked DIRECTORIES ${libdir})
if(NOT linked MATCHES "${libdir}/libtovik.so.0")
  message(FATAL_ERROR "the CMake package's Tovik::tovik is not the installed shared library: ${linked}")
endif()
build_and_run(cmake-static OPTIONS -DCMAKE_PREFIX_PATH=${prefix} -DTovik_USE_STATIC_LIBS=ON -DTOVIK_EXAMPLES=transform_track
              RUN transform_track)

# pkg-config, from the relocated tree.
set(ENV{PKG_CONFIG_PATH} ${pkgconfig_dir})
run(pkg-config --modversion tovik)
string(STRIP "${last_output}" version)
message(STATUS "pkg-config: tovik ${version}")
build_and_run(pkg-config OPTIONS -DTOVIK_EXAMPLES_USE_PKGCONFIG=ON -DTOVIK_EXAMPLES=transform_track
              RUN transform_track)
