# Installation and packaging: headers, both libraries, the CMake package
# (`find_package(Tovik CONFIG)` → Tovik::tovik), the pkg-config file `tovik.pc`, the
# examples and the guide, a Debian package through CPack, and the API reference (`docs`).
# The command-line tool and its man page are installed by tools/tovik.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TOVIK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tovik)
set(TOVIK_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tovik)

# Headers: the two umbrella headers and exactly the headers they reach (the outside build
# in tests/packaging compiles against the installed tree, so a missing one fails there).
install(FILES ${PROJECT_SOURCE_DIR}/include/tovik/tovik.h ${PROJECT_SOURCE_DIR}/include/tovik/tovik_c.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tovik)
set(TOVIK_PUBLIC_HEADERS
  client/location_delegate.h client/service_policy.h client/tk_client_location.h
  coord/batch_path.h coord/datum.h coord/orb_coor_transform.h coord/region.h
  geofence/geofence.h geofence/geofence_delegate.h geofence/geofence_event.h geofence/geofence_monitor.h
  info/tk_version.h
  location/location_controller_delegate.h
  model/address.h model/address_context.h model/address_info.h
  model/decoding_error.h model/distance_info.h model/geocode_res.h model/location_detail.h
  model/location_res.h model/place_info.h model/position.h model/tk_category.h model/tk_point.h
  network/network_checker.h
  providers/authorization_status.h providers/automatic_location_provider.h system/bundle.h
  system/device.h system/error.h providers/geoclue_location_provider.h
  system/export.h providers/gpsd_location_provider.h system/location.h system/location_availability.h
  system/tk_error.h
  providers/location_provider.h providers/location_services.h system/log_handler.h
  runloop/main_queue.h providers/nmea_replay_provider.h providers/provider_reader.h
  providers/scripted_location_provider.h)
foreach(header IN LISTS TOVIK_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/src/tovik/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tovik/${folder})
endforeach()

# Libraries: libtovik.so.<version> with its SONAME link and development link, and libtovik.a.
# Each has its own export set: the static library's set names the kit's own dependencies,
# which only its users need.
install(TARGETS tovik_shared EXPORT TovikTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS tovik_static EXPORT TovikStaticTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# A stripped install (`cmake --install --strip`, the Debian package) strips the shared library;
# the archive keeps its symbols but drops its debug information too.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:tovik_static>\")
  endif()")

# The CMake package: the generated targets and a config that finds their dependencies.
install(EXPORT TovikTargets NAMESPACE Tovik:: DESTINATION ${TOVIK_INSTALL_CMAKEDIR})
install(EXPORT TovikStaticTargets NAMESPACE Tovik:: DESTINATION ${TOVIK_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TovikConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/packaging/TovikConfig.cmake
                              INSTALL_DESTINATION ${TOVIK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/TovikConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/TovikConfig.cmake ${PROJECT_BINARY_DIR}/packaging/TovikConfigVersion.cmake
        DESTINATION ${TOVIK_INSTALL_CMAKEDIR})

# pkg-config: the prefix is found from the file's own place, so the installed tree can move.
file(RELATIVE_PATH TOVIK_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" TOVIK_PC_TO_PREFIX "${TOVIK_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tovik.pc.in ${PROJECT_BINARY_DIR}/packaging/tovik.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/tovik.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Examples, their data and the guide, for reading and copying.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${TOVIK_INSTALL_DOCDIR}/examples
        PATTERN "__pycache__" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/data/beijing_walk.nmea ${PROJECT_SOURCE_DIR}/data/beijing_walk.csv
        DESTINATION ${TOVIK_INSTALL_DOCDIR}/examples/data)
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide.md DESTINATION ${TOVIK_INSTALL_DOCDIR})

# The Debian package: `cpack -G DEB` in the build directory.
set(CPACK_PACKAGE_NAME tovik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tovik")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Location kit: location sessions, location services, datum transforms")
set(CPACK_PACKAGE_DESCRIPTION [=[Tovik takes fixes from gpsd or a recorded NMEA track, sends them to a location
service and hands back addresses and places. It also geocodes, searches places and converts
between WGS-84, GCJ-02 and BD-09. This package holds the shared and static libraries, the C
and C++ headers, the CMake package and pkg-config file, the tovik command, the Python package
tovik (when built) and the examples.]=])
set(CPACK_PACKAGE_CONTACT "Tovik maintainers <maintainers@users.noreply.c-seed-0c5328f0.example>" CACHE STRING
    "Maintainer of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Run-time dependencies come from the binaries (dpkg-shlibdeps); the headers include only the
# standard library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkg-config, gpsd | geoclue-2.0")
if(TARGET tovik_python)
  string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", python3-numpy")  # for the Python package
endif()
# Linking the static library needs the kit's own dependencies' development files.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libcurl4-openssl-dev, libgps-dev, libsystemd-dev, libsleef-dev, libgeographiclib-dev")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

include(TovikDocs)
