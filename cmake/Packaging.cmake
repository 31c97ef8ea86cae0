# Installation and the Debian package.
#
#   cmake --install build --prefix /usr        (or DESTDIR=... for a staging root)
#   make package                               (build/zor_<version>_<arch>.deb)
#
# Layout (prefix /usr):
#   bin/zor, bin/zorctl          the process and the operator tool
#   lib/zor/suite/               the simulated suite peers, under the image
#                                names the demo database starts
#   share/zor/                   schema.sql, demo.sql, make-suite-db and
#                                demo-data/ (the demo suite's local files)
#   share/doc/zor/               README.md
# Included at the end of the top-level CMakeLists.txt, once every target is
# defined.
include(GNUInstallDirs)

set(ZOR_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/zor)
set(ZOR_INSTALL_SUITEDIR lib/zor/suite)

foreach(target zor zorctl)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The peers are copies of one program under several image names; the copies
# are made after the build, so they are installed as files.
if(TARGET zor_udp_peer)
  get_directory_property(peer_images DIRECTORY tools DEFINITION ZOR_UDP_PEER_IMAGES)
  get_directory_property(peer_folder DIRECTORY tools DEFINITION ZOR_SUITE_DIR)
  list(TRANSFORM peer_images PREPEND ${peer_folder}/)
  install(PROGRAMS ${peer_images} DESTINATION ${ZOR_INSTALL_SUITEDIR})
  install(TARGETS zor_grid_server RUNTIME DESTINATION ${ZOR_INSTALL_SUITEDIR})
endif()

install(FILES suite/schema.sql suite/demo.sql DESTINATION ${ZOR_INSTALL_DATADIR})
install(PROGRAMS suite/make-suite-db DESTINATION ${ZOR_INSTALL_DATADIR})
install(DIRECTORY suite/demo-data/ DESTINATION ${ZOR_INSTALL_DATADIR}/demo-data
        USE_SOURCE_PERMISSIONS)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- the .deb ---------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zor)
set(CPACK_PACKAGE_VENDOR "ZOR project")
set(CPACK_PACKAGE_CONTACT "ZOR project <zor@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "control process of the PEL seafloor-mapping suite, with its operator tool")
set(CPACK_PACKAGE_DESCRIPTION
    "ZOR launches the suite's processes from the suite database, relays the operator's\n\
command sentences, controls raw-data logging and stops everything it started.\n\
zorctl drives a running ZOR from the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Debugging information stays in the build; the package gets stripped files.
set(CPACK_STRIP_FILES ON)

# The libraries the programs link are found by dpkg-shlibdeps (package
# dpkg-dev). What is loaded at run time by name is declared here: Qt's SQLite
# driver (the token database), the SQLite ODBC driver the data source names,
# the ODBC driver manager's tools and the sqlite3 program the scripts under
# share/zor use. Without dpkg-shlibdeps the linked libraries are listed by
# their Debian 12 package names.
set(ZOR_DEB_RUNTIME "libqt5sql5-sqlite, libsqliteodbc, unixodbc, sqlite3")
find_program(ZOR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZOR_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ZOR_DEB_RUNTIME}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "${ZOR_DEB_RUNTIME}, libqt5core5a, libqt5gui5, libqt5widgets5, libqt5network5, libqt5sql5, libace-7.0.8, liblog4cplus-2.0.5, libsqlite3-0, libodbc2, libstdc++6, libc6")
endif()
include(CPack)

# The package, built and unpacked into a scratch root, starts from there.
if(ZOR_BUILD_TESTS AND ZOR_SANITIZE STREQUAL "" AND TARGET zor AND TARGET zorctl)
  add_test(NAME test_package_deb
           COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/test-deb ${CMAKE_BINARY_DIR})
  set_tests_properties(test_package_deb PROPERTIES TIMEOUT 300 LABELS packaging)
endif()
