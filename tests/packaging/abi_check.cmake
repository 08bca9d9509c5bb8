# cmake -DLIBRARY=<libtovik.so> -DSOURCE_DIR=<kit source> -DWORK_DIR=<scratch> -P abi_check.cmake
#
# The shared library keeps its promise: its dynamic symbols are the C interface (tk_*) and
# the kit's public C++ classes only, and its ABI matches the baseline in abi/ (new symbols
# may appear; anything else that changes fails: update the baseline with scripts/abi-baseline
# in the same commit when the change is deliberate).
#
# A public class exports its private member functions too, but no application can call them
# as long as no inline function of an installed header does, so adding, renaming or removing
# one is no ABI change: they are left out of the comparison. Private virtual functions hold
# places in the vtable and private data the layout, so those still count.
cmake_minimum_required(VERSION 3.25)
foreach(var LIBRARY SOURCE_DIR WORK_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
foreach(tool nm abidw abidiff xz)
  find_program(found_${tool} ${tool})
  if(NOT found_${tool})
    message(FATAL_ERROR "${tool} is missing: run scripts/bootstrap (abigail-tools, binutils, xz-utils)")
  endif()
endforeach()

execute_process(COMMAND nm -D --defined-only --demangle ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" symbols "${symbols}")
set(strays "")
foreach(line IN LISTS symbols)
  string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${line}")
  if(name STREQUAL "" OR name MATCHES "^tk_" OR
     name MATCHES "^((typeinfo|typeinfo name|vtable|VTT) for |(non-)?virtual thunk to )?tovik::")
    continue()
  endif()
  list(APPEND strays "${name}")
endforeach()
if(strays)
  string(REPLACE ";" "\n  " strays "${strays}")
  message(FATAL_ERROR "libtovik.so exports symbols outside the public API:\n  ${strays}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND xz -dc ${SOURCE_DIR}/abi/libtovik.abi.xz OUTPUT_FILE ${WORK_DIR}/baseline.abi
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot read the baseline abi/libtovik.abi.xz")
endif()
execute_process(COMMAND ${SOURCE_DIR}/scripts/abi-dump ${LIBRARY} OUTPUT_FILE ${WORK_DIR}/build.abi RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "abidw failed on ${LIBRARY}")
endif()
# The symbols of the non-virtual private member functions, as abidw writes them: a
# <member-function access='private'> holding the <function-decl> of an exported symbol. A
# symbol that is public in either dump stays compared (turning a public function private
# removes it from the API).
set(private_symbols "")
set(public_symbols "")
foreach(dump baseline.abi build.abi)
  file(STRINGS ${WORK_DIR}/${dump} lines REGEX "<member-function |<function-decl ")
  set(access "")
  foreach(line IN LISTS lines)
    if(line MATCHES "<member-function ")
      set(access public)
      if(line MATCHES "access='private'" AND NOT line MATCHES "vtable-offset=")
        set(access private)
      endif()
    elseif(access AND line MATCHES "elf-symbol-id='([^']+)'")
      list(APPEND ${access}_symbols "${CMAKE_MATCH_1}")
      set(access "")
    else()
      set(access "")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES private_symbols)
if(public_symbols)
  list(REMOVE_ITEM private_symbols ${public_symbols})
endif()
set(suppressions "# Private member functions of the public classes (tests/packaging/abi_check.cmake)\n")
# The hidden state behind a public class's pointer (its `Impl`) is never seen by a caller.
string(APPEND suppressions "[suppress_type]\n  name_regexp = ^tovik::.*::Impl$\n")
foreach(symbol IN LISTS private_symbols)
  string(APPEND suppressions "[suppress_function]\n  symbol_name = ${symbol}\n")
endforeach()
file(WRITE ${WORK_DIR}/private.suppr "${suppressions}")

execute_process(COMMAND abidiff --no-added-syms --suppressions ${WORK_DIR}/private.suppr
                        ${WORK_DIR}/baseline.abi ${WORK_DIR}/build.abi
                OUTPUT_VARIABLE report ERROR_VARIABLE report RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the ABI of libtovik.so differs from abi/libtovik.abi.xz (abidiff ${status}); "
                      "if that is deliberate, run scripts/abi-baseline and commit the baseline:\n${report}")
endif()
message(STATUS "abi: libtovik.so matches its baseline; its dynamic symbols are the public API only")
