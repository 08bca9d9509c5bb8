# cmake -DPYTHON=<python3> -DSOURCE_DIR=<kit source> -DWORK_DIR=<scratch> -P layers_check.cmake
#
# scripts/check-layers catches what it is there for. Each case is a small source tree with
# five modules (side and mid on bottom, top on mid, capi on top) plus one change, and the
# line the script must print for it (none: it must pass).
cmake_minimum_required(VERSION 3.25)
foreach(var PYTHON SOURCE_DIR WORK_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(base_modules [=[
# Layers of the small tree.
tovik_module(bottom SOURCES tovik/bottom/a.cpp)
tovik_module(mid
  SOURCES tovik/mid/a.cpp  # DEPS top would climb, but this is a comment
  DEPS bottom)
tovik_module(top SOURCES tovik/top/a.cpp DEPS mid PRIVATE_LIBS Foo::foo)
tovik_MODULE(side SOURCES tovik/side/a.cpp DEPS bottom PUBLIC_LIBS "Bar::bar")
tovik_module(capi SOURCES tovik/capi/a.cpp DEPS top)
]=])

set(failures "")
# layers_case(<name> <expected line or ""> <file under src/> <its text> [<more of src/CMakeLists.txt>])
function(layers_case name expected file text)
  set(tree ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${tree})
  foreach(folder bottom mid top side capi)
    file(WRITE ${tree}/src/tovik/${folder}/a.cpp "#include \"tovik/${folder}/a.h\"\n")
  endforeach()
  file(WRITE ${tree}/src/CMakeLists.txt "${base_modules}${ARGN}\n")
  file(WRITE ${tree}/src/${file} "${text}\n")
  execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/scripts/check-layers ${tree}
                  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  if(expected STREQUAL "")
    set(good FALSE)
    if(status EQUAL 0)
      set(good TRUE)
    endif()
  else()
    string(FIND "${output}" "${expected}" found)
    set(good FALSE)
    if(status EQUAL 1 AND found GREATER_EQUAL 0)
      set(good TRUE)
    endif()
  endif()
  if(NOT good)
    set(failures "${failures}\n${name}: wanted ${expected} (status ${status}):\n${output}" PARENT_SCOPE)
  endif()
endfunction()

layers_case(down_through_a_module "" tovik/top/b.cpp "#include \"tovik/bottom/x.h\"\n#include <tovik/bottom/y.h>")
layers_case(climbing "tovik/bottom/b.h:2: bottom/ may not include tovik/mid"
            tovik/bottom/b.h "#pragma once\n  #  include \"tovik/mid/x.h\"")
layers_case(climbing_in_angle_brackets "tovik/mid/b.cpp:1: mid/ may not include tovik/top"
            tovik/mid/b.cpp "#include <tovik/top/x.h>")
layers_case(sideways "tovik/side/b.cpp:1: side/ may not include tovik/mid" tovik/side/b.cpp "#include \"tovik/mid/x.h\"")
layers_case(public_c_header_in_capi "" tovik/capi/b.cpp "#include \"tovik/tovik_c.h\"")
layers_case(public_c_header_below "top/ may not include tovik/tovik_c.h" tovik/top/b.cpp "#include \"tovik/tovik_c.h\"")
layers_case(folder_without_module "src/tovik/stray/: a folder without a layer" tovik/stray/a.cpp "")
layers_case(module_only_in_a_comment "src/tovik/stray/: a folder without a layer" tovik/stray/a.cpp ""
            "# tovik_module(stray SOURCES tovik/stray/a.cpp DEPS bottom)")
layers_case(dependency_that_is_no_module "stray depends on nothing, which is no module" tovik/stray/a.cpp ""
            "tovik_module(stray SOURCES tovik/stray/a.cpp DEPS bottom nothing)")
layers_case(dependency_through_a_variable "stray depends on '\${low}'" tovik/stray/a.cpp ""
            "tovik_module(stray SOURCES tovik/stray/a.cpp DEPS \${low})")

if(failures)
  message(FATAL_ERROR "scripts/check-layers missed a fault or made one up:${failures}")
endif()
message(STATUS "layers: scripts/check-layers passes a sound tree and names each fault")
