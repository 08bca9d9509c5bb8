# Every dependency comes from a Debian package (scripts/bootstrap installs them).
find_package(Threads REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBGPS REQUIRED IMPORTED_TARGET libgps)
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
# The ellipsoidal distance; private to the kit (no installed header includes it).
pkg_check_modules(GEOGRAPHICLIB REQUIRED IMPORTED_TARGET geographiclib)

# The fences' R-tree and polygon tests (Boost.Geometry, header-only); private to the kit.
find_package(Boost 1.74 REQUIRED)
add_library(tovik_boost_geometry INTERFACE)
target_link_libraries(tovik_boost_geometry INTERFACE Boost::headers)
# Boost 1.74's geometry headers include a few that announce their own deprecation.
target_compile_definitions(tovik_boost_geometry INTERFACE BOOST_ALLOW_DEPRECATED_HEADERS)

find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(tovik_asio INTERFACE)
target_include_directories(tovik_asio SYSTEM INTERFACE ${ASIO_INCLUDE_DIR})
target_compile_definitions(tovik_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)

find_path(SLEEF_INCLUDE_DIR sleef.h REQUIRED)
find_library(SLEEF_LIBRARY sleef REQUIRED)
add_library(tovik_sleef INTERFACE)
target_include_directories(tovik_sleef SYSTEM INTERFACE ${SLEEF_INCLUDE_DIR})
target_link_libraries(tovik_sleef INTERFACE ${SLEEF_LIBRARY})

# Debian builds cpp-httplib as a shared library with TLS support (tests, benchmarks, service).
pkg_check_modules(HTTPLIB IMPORTED_TARGET cpp-httplib)
