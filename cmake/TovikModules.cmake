# The kit is built from one object library per source folder, so that a test of one
# subsystem links only what that subsystem needs. `tovik_module(NAME SOURCES... DEPS ...)`
set(TOVIK_MODULES "" CACHE INTERNAL "")

function(tovik_module name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS;LIBS" ${ARGN})
  if(NOT M_SOURCES)
    # A folder without sources yet still makes a module, so the others can link it.
    set(M_SOURCES ${PROJECT_BINARY_DIR}/generated/empty_${name}.cpp)
    file(WRITE ${M_SOURCES} "// no sources yet\n")
  endif()
  add_library(tovik_${name} OBJECT ${M_SOURCES})
  # Only what the public headers mark TOVIK_API leaves the shared library.
  set_target_properties(tovik_${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(tovik_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>)
  target_link_libraries(tovik_${name} PUBLIC ${M_LIBS})
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
