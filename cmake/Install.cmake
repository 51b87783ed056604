# What `cmake --install` puts where, and the Debian package made of it
# (scripts/package). Paths are relative to the install prefix.

install(TARGETS vantrelle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(VANTRELLE_SERVER)
  # The report console: the server, its unit (installed disabled), its
  # configuration and its manual page.
  install(TARGETS vantrelle-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES data/server/vantrelle-server.service DESTINATION lib/systemd/system)
  # The configuration to start from; the package copies it to
  # /etc/vantrelle/server.ini when there is none.
  install(FILES data/server/server.ini DESTINATION ${VANTRELLE_DOC_DIR}/examples/console)
  # The console's pages, served as they stand.
  install(DIRECTORY data/console/ DESTINATION ${VANTRELLE_PAGES_DIR})
endif()

# The manual, the example report and the scheduling examples.
install(FILES src/ui/help/vantrelle-help.htm DESTINATION ${VANTRELLE_DOC_DIR})
# The scheduling wrapper is run by cron and systemd as it is installed, so it
# keeps its execute bit; every other file is documentation (0644).
install(DIRECTORY examples/ DESTINATION ${VANTRELLE_DOC_DIR}/examples
  PATTERN "__pycache__" EXCLUDE PATTERN ".gitignore" EXCLUDE
  PATTERN "run-monthly-report" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(FILES data/copyright DESTINATION ${VANTRELLE_DOC_DIR})

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install)

# Debian keeps manual pages and changelogs compressed, without time stamps.
set(VANTRELLE_MAN_GZ ${CMAKE_BINARY_DIR}/install/vantrelle.1.gz)
set(VANTRELLE_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/install/changelog.gz)
add_custom_command(OUTPUT ${VANTRELLE_MAN_GZ}
  COMMAND sh -c "gzip -9nc '${PROJECT_SOURCE_DIR}/docs/vantrelle.1' > '${VANTRELLE_MAN_GZ}'"
  DEPENDS docs/vantrelle.1 VERBATIM)
add_custom_command(OUTPUT ${VANTRELLE_CHANGELOG_GZ}
  COMMAND sh -c "gzip -9nc '${PROJECT_SOURCE_DIR}/data/changelog' > '${VANTRELLE_CHANGELOG_GZ}'"
  DEPENDS data/changelog VERBATIM)
set(VANTRELLE_SERVER_MAN_GZ ${CMAKE_BINARY_DIR}/install/vantrelle-server.8.gz)
add_custom_command(OUTPUT ${VANTRELLE_SERVER_MAN_GZ}
  COMMAND sh -c "gzip -9nc '${PROJECT_SOURCE_DIR}/docs/vantrelle-server.8' > '${VANTRELLE_SERVER_MAN_GZ}'"
  DEPENDS docs/vantrelle-server.8 VERBATIM)
add_custom_target(vantrelle_install_files ALL
  DEPENDS ${VANTRELLE_MAN_GZ} ${VANTRELLE_CHANGELOG_GZ} ${VANTRELLE_SERVER_MAN_GZ})
install(FILES ${VANTRELLE_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(VANTRELLE_SERVER)
  install(FILES ${VANTRELLE_SERVER_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
endif()
install(FILES ${VANTRELLE_CHANGELOG_GZ} DESTINATION ${VANTRELLE_DOC_DIR})

if(VANTRELLE_GUI)
  # The menu entry and the icon, the PNG sizes drawn by the window's own code.
  install(FILES data/vantrelle.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  # The configuration file type the menu entry opens (.ini, a kind of text).
  install(FILES data/vantrelle-mime.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
    RENAME vantrelle.xml)
  # Installed straight into a prefix, the desktop's caches learn the type and
  # the menu entry at once. A package (staged under DESTDIR) leaves that to
  # the triggers of the desktop's own packages.
  install(CODE "
    if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
      find_program(VANTRELLE_UPDATE_MIME update-mime-database)
      find_program(VANTRELLE_UPDATE_DESKTOP update-desktop-database)
      if(VANTRELLE_UPDATE_MIME)
        execute_process(COMMAND \${VANTRELLE_UPDATE_MIME}
          \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/mime\" ERROR_QUIET)
      endif()
      if(VANTRELLE_UPDATE_DESKTOP)
        execute_process(COMMAND \${VANTRELLE_UPDATE_DESKTOP}
          \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/applications\" ERROR_QUIET)
      endif()
    endif()")
  install(FILES data/vantrelle.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  set(VANTRELLE_ICON_SIZES 16 22 24 32 48 64 128 256)
  set(VANTRELLE_ICON_PNGS)
  foreach(size ${VANTRELLE_ICON_SIZES})
    list(APPEND VANTRELLE_ICON_PNGS ${CMAKE_BINARY_DIR}/install/vantrelle-${size}.png)
  endforeach()
  add_executable(vantrelle_render_icons src/tools/render_icons.cpp)
  target_link_libraries(vantrelle_render_icons PRIVATE vantrelle_ui)
  add_custom_command(OUTPUT ${VANTRELLE_ICON_PNGS}
    # (A sanitizer build's leak check would take the toolkit's own
    # process-lifetime allocations for leaks and fail the build.)
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
      $<TARGET_FILE:vantrelle_render_icons> ${CMAKE_BINARY_DIR}/install ${VANTRELLE_ICON_SIZES}
    DEPENDS vantrelle_render_icons VERBATIM)
  add_custom_target(vantrelle_icons ALL DEPENDS ${VANTRELLE_ICON_PNGS})
  foreach(size ${VANTRELLE_ICON_SIZES})
    install(FILES ${CMAKE_BINARY_DIR}/install/vantrelle-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
      RENAME vantrelle.png)
  endforeach()
endif()

# The Debian package: dependencies from the binary's libraries
# (dpkg-shlibdeps); the office suite only for PDF copies, hence suggested.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrelle)
set(CPACK_PACKAGE_VENDOR "The Vantrelle developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report generator: SQL query results into Word documents")
# CPack puts the summary above this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vantrelle makes reports as Word documents (.docx) from an INI
configuration, SQL scripts and a Word template. Numbered tables of the
template are filled and grown cell by cell, each cell's own text being
the format pattern of its value, and document variables are set for the
template's fields. Data comes from an embedded SQLite database or any
ODBC data source. Every run writes a time-stamped run log.
.
The program runs unattended in batch mode (for cron or systemd timers)
or in a desktop window, and can write a PDF copy of each report.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Vantrelle developers <vantrelle@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The installed example report builds its database with the sqlite3 program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, sqlite3")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libreoffice-writer-nogui | libreoffice-writer, odbc-postgresql")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(VANTRELLE_SERVER)
  # The console's account and folder are made by the package; schedules read
  # the system's zone database.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, tzdata")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/server/postinst)
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
