# The API reference: `cmake --build <dir> --target docs` writes HTML to <dir>/docs/html from
# the public headers' comments and the guide. Not part of `all`; only when Doxygen is there.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(TOVIK_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs)
  # The reference covers what the umbrella header includes, so the two cannot drift apart.
  file(STRINGS ${PROJECT_SOURCE_DIR}/include/tovik/tovik.h umbrella REGEX "^#include \"tovik/")
  set(TOVIK_DOCS_INPUT "docs/guide.md include/tovik/tovik.h include/tovik/tovik_c.h")
  foreach(line IN LISTS umbrella)
    string(REGEX REPLACE "^#include \"(tovik/[^\"]+)\".*" "src/\\1" header "${line}")
    string(APPEND TOVIK_DOCS_INPUT " ${header}")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${TOVIK_DOCS_OUTPUT}/Doxyfile @ONLY)
  add_custom_target(docs
    COMMAND ${DOXYGEN_EXECUTABLE} ${TOVIK_DOCS_OUTPUT}/Doxyfile
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "API reference in ${TOVIK_DOCS_OUTPUT}/html"
    VERBATIM)
endif()
