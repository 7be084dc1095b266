# Install rules and the Debian package (CPack).
#
#   cmake --install build --prefix DIR    programs, runner, units, docs, examples
#   make package                          build/tqdaemon_<version>_<arch>.deb
#
# The units name the installed programs and the environment file by their
# full paths, so they are written at install time, for the prefix in use.
# With the prefix /usr (the package) the environment file goes to
# /etc/default; with any other prefix to PREFIX/etc/default.
include(GNUInstallDirs)

set(TQ_STATE_DIR /var/lib/tqdaemon CACHE PATH "The service's TQ_ROOT")

install(TARGETS tqdaemon tqstream tqmap RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The documents, whole: every file README.md and docs/ link to comes along.
install(FILES README.md CONTRIBUTING.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES examples/README.md examples/storage.jsonl examples/oid_to_sym examples/services
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# What the runner copies into a new root.
install(FILES examples/oid_to_sym examples/services DESTINATION ${CMAKE_INSTALL_DATADIR}/tqdaemon)

install(CODE "
  set(TQ_PACKAGING_SOURCE \"${CMAKE_CURRENT_SOURCE_DIR}/packaging\")
  set(TQ_PACKAGING_STAGE \"${CMAKE_CURRENT_BINARY_DIR}/packaging-stage\")
  set(TQ_STATE_DIR \"${TQ_STATE_DIR}\")
  set(TQ_REL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(TQ_REL_LIBEXECDIR \"${CMAKE_INSTALL_LIBEXECDIR}\")
  set(TQ_REL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(TQ_REL_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
  include(\"${CMAKE_CURRENT_SOURCE_DIR}/packaging/install-units.cmake\")
")

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tqdaemon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tqdaemon developers <tqdaemon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a network-management map in step with a topology message stream")
set(CPACK_PACKAGE_DESCRIPTION
    "tqdaemon reads framed topology messages from a stream file and applies them to a map kept in an embedded SQLite database. It ships tqstream (write and read message streams), tqmap (look at the map, draw it, serve it to a browser) and systemd units that run the daemon when the stream is written.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# groupadd, for the group of the stream's writers (postinst).
set(CPACK_DEBIAN_PACKAGE_DEPENDS passwd)
set(CPACK_STRIP_FILES ON)
# The environment file is a conffile: dpkg keeps an operator's edits.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/conffiles
               ${CMAKE_CURRENT_BINARY_DIR}/packaging-control/conffiles COPYONLY)
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/${script}.in
                 ${CMAKE_CURRENT_BINARY_DIR}/packaging-control/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_BINARY_DIR}/packaging-control/conffiles
    ${CMAKE_CURRENT_BINARY_DIR}/packaging-control/postinst
    ${CMAKE_CURRENT_BINARY_DIR}/packaging-control/prerm
    ${CMAKE_CURRENT_BINARY_DIR}/packaging-control/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
