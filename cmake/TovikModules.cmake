# The kit is built from one object library per source folder, so that a test of one
# subsystem links only what that subsystem needs, and the two libraries are made of all of
# them. Folders are layered: a module names the modules below it that it uses (DEPS, public:
# their headers appear in its own; scripts/check-layers reads these calls in
# src/CMakeLists.txt, so write the names out there), the outside libraries its
# headers expose (PUBLIC_LIBS) and those only its sources use (PRIVATE_LIBS).
#
#   tovik_module(NAME SOURCES <files> [DEPS <modules>] [PUBLIC_LIBS <targets>] [PRIVATE_LIBS <targets>])

# The warnings every target of the project is built with (TOVIK_WERROR makes them errors).
add_library(tovik_warnings INTERFACE)
target_compile_options(tovik_warnings INTERFACE -Wall -Wextra -Wpedantic $<$<BOOL:${TOVIK_WERROR}>:-Werror>)

set(TOVIK_MODULES "" CACHE INTERNAL "")

function(tovik_module name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(tovik_${name} OBJECT ${M_SOURCES})
  # Only what the public headers mark TOVIK_API leaves the shared library.
  set_target_properties(tovik_${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(tovik_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>)
  target_link_libraries(tovik_${name} PUBLIC ${M_PUBLIC_LIBS} PRIVATE ${M_PRIVATE_LIBS} tovik_warnings)
  foreach(dep IN LISTS M_DEPS)
    # Usage requirements only; `tovik_link_modules` gathers the objects.
    target_link_libraries(tovik_${name} PUBLIC tovik_${dep})
  endforeach()
  set_property(TARGET tovik_${name} PROPERTY TOVIK_DEPS ${M_DEPS})
  set(TOVIK_MODULES ${TOVIK_MODULES} ${name} CACHE INTERNAL "")
endfunction()

# Links `target` with the objects of the named modules and everything they depend on.
function(tovik_link_modules target)
  set(pending ${ARGN})
  set(done "")
  while(pending)
    list(POP_FRONT pending m)
    if(NOT m IN_LIST done)
      list(APPEND done ${m})
      get_property(deps TARGET tovik_${m} PROPERTY TOVIK_DEPS)
      list(APPEND pending ${deps})
    endif()
  endwhile()
  foreach(m IN LISTS done)
    target_link_libraries(${target} PRIVATE tovik_${m})
  endforeach()
endfunction()
