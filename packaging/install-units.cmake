# Runs at install time (install(CODE) in install.cmake): writes the runner, the
# units and the environment file for the prefix in use and installs them.
# An environment file already in place is the operator's and is kept.
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(TQ_SYSCONFDIR /etc)
else()
  set(TQ_SYSCONFDIR "${prefix}/etc")
endif()
set(TQ_BINDIR "${prefix}/${TQ_REL_BINDIR}")
set(TQ_LIBEXECDIR "${prefix}/${TQ_REL_LIBEXECDIR}")
set(TQ_DATADIR "${prefix}/${TQ_REL_DATADIR}")
set(TQ_DOCDIR "${prefix}/${TQ_REL_DOCDIR}")

# One stage per destination, so installs into two places can run at once.
string(MD5 destination "$ENV{DESTDIR}${prefix}")
set(TQ_PACKAGING_STAGE "${TQ_PACKAGING_STAGE}/${destination}")
file(REMOVE_RECURSE "${TQ_PACKAGING_STAGE}")
foreach(unit tqdaemon.service tqdaemon.path tqmap-serve.service)
  configure_file("${TQ_PACKAGING_SOURCE}/${unit}.in" "${TQ_PACKAGING_STAGE}/units/${unit}" @ONLY)
endforeach()
configure_file("${TQ_PACKAGING_SOURCE}/tqdaemon-run.in" "${TQ_PACKAGING_STAGE}/tqdaemon-run" @ONLY)
configure_file("${TQ_PACKAGING_SOURCE}/tqdaemon.default" "${TQ_PACKAGING_STAGE}/default/tqdaemon" @ONLY)

file(INSTALL DESTINATION "${prefix}/lib/systemd/system" TYPE FILE FILES
     "${TQ_PACKAGING_STAGE}/units/tqdaemon.service"
     "${TQ_PACKAGING_STAGE}/units/tqdaemon.path"
     "${TQ_PACKAGING_STAGE}/units/tqmap-serve.service")
file(INSTALL DESTINATION "${TQ_LIBEXECDIR}/tqdaemon" TYPE PROGRAM FILES "${TQ_PACKAGING_STAGE}/tqdaemon-run")
if(EXISTS "$ENV{DESTDIR}${TQ_SYSCONFDIR}/default/tqdaemon")
  message(STATUS "Keeping: $ENV{DESTDIR}${TQ_SYSCONFDIR}/default/tqdaemon")
else()
  file(INSTALL DESTINATION "${TQ_SYSCONFDIR}/default" TYPE FILE FILES "${TQ_PACKAGING_STAGE}/default/tqdaemon")
endif()
