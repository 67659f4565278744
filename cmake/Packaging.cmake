# What an installation holds, and the Debian package CPack makes of it.
# Configure with -DCMAKE_INSTALL_PREFIX=/usr -DHHSYNC_XDG=ON for a package
# (scripts/package does); `cpack -G DEB` in that build directory then writes
# hhsync_<version>_<arch>.deb.

include(GNUInstallDirs)

install(TARGETS hhsync hhctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages and the changelog, compressed without a timestamp so that the
# package is the same whenever it is built.
set(HHSYNC_GZIPPED)
foreach(source docs/man/hhsync.1 docs/man/hhctl.1 packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(out ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/${source} > ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source}
    VERBATIM)
  list(APPEND HHSYNC_GZIPPED ${out})
endforeach()
add_custom_target(hhsync_install_files ALL DEPENDS ${HHSYNC_GZIPPED})
install(FILES ${CMAKE_BINARY_DIR}/packaging/hhsync.1.gz ${CMAKE_BINARY_DIR}/packaging/hhctl.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# systemd user units: the service runs one sync, the timer offers one every
# hour (the update frequency decides whether it syncs).
set(HHSYNC_BIN ${CMAKE_INSTALL_FULL_BINDIR})
configure_file(${CMAKE_SOURCE_DIR}/packaging/hhsync.service.in
  ${CMAKE_BINARY_DIR}/packaging/hhsync.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/hhsync.service
  ${CMAKE_SOURCE_DIR}/packaging/hhsync.timer
  DESTINATION lib/systemd/user)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/hhsync.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The program's logo as the desktop entry's icon.
foreach(size 48 128)
  install(FILES ${CMAKE_SOURCE_DIR}/res/hhsync-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME hhsync.png)
endforeach()
# Something to try: the sample catalogue and product configuration, and a
# script that serves them to an emulated handheld (see hhsync(1), EXAMPLES).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/demo/catalogue
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/demo/sync.properties ${CMAKE_SOURCE_DIR}/packaging/try-hhsync
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian/hhsync
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
foreach(program hhctl hhsync)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/${program}.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

set(HHSYNC_DOCS README.md docs/architecture.md docs/reliability.md)
if(EXISTS ${CMAKE_SOURCE_DIR}/docs/report.schema.json)
  list(APPEND HHSYNC_DOCS docs/report.schema.json)
endif()
list(TRANSFORM HHSYNC_DOCS PREPEND ${CMAKE_SOURCE_DIR}/)
install(FILES ${HHSYNC_DOCS} ${CMAKE_SOURCE_DIR}/packaging/copyright
  ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package.
set(CPACK_PACKAGE_NAME hhsync)
set(CPACK_PACKAGE_VERSION ${HHSYNC_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "hhsync maintainers <maintainers@users.noreply.c-seed-93f5e8dc.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a handheld supplied with content from a content server")
set(CPACK_PACKAGE_DESCRIPTION
  "hhsync connects to the handheld, asks the content server for the user's
profile, posts the entries the handheld collected, downloads resources and
writes categories and content as records into databases on the handheld,
showing progress while it works. A systemd user timer offers a sync every
hour; the update frequency the user chose decides whether it runs. hhctl,
the companion tool, makes and inspects emulated handhelds, the registry
store and the files hhsync reads, and runs a reference content server.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
include(CPack)
