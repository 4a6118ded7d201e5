# Install rules for a system-wide installation (the Debian package uses them):
# the two desktop programs and horavo-setup in bin, the line tools rasdial and
# tallyon-line in libexec/horavo, the room's settings file (a conffile in the package),
# and the desktop entries, icons, AppStream metainfo and manual pages from data/. Test executables and benchmarks are never installed.
# The CMAKE_INSTALL_*DIR folders are GNUInstallDirs', included by
# qt_standard_project_setup() in the top CMakeLists.txt.

set(HORAVO_INSTALL_LIBEXECDIR "${CMAKE_INSTALL_LIBEXECDIR}/horavo")

# Where the installed line tools live: the second place platform::findProgram looks
# for a program of our own (platform/process/ProgramSearch.h).
target_compile_definitions(horavo_options INTERFACE
  "HORAVO_LIBEXEC_DIR=\"${CMAKE_INSTALL_FULL_LIBEXECDIR}/horavo\"")

install(TARGETS tallyon signova horavo-setup
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS rasdial tallyon-line
  RUNTIME DESTINATION "${HORAVO_INSTALL_LIBEXECDIR}")

set(HORAVO_DATA_DIR "${PROJECT_SOURCE_DIR}/data")

# The programs read /etc/horavo/horavo.conf wherever they are installed (settings/).
install(FILES "${HORAVO_DATA_DIR}/horavo.conf" DESTINATION "${CMAKE_INSTALL_SYSCONFDIR}/horavo")

install(FILES
    "${HORAVO_DATA_DIR}/org.example.horavo.tallyon.desktop"
    "${HORAVO_DATA_DIR}/org.example.horavo.signova.desktop"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

install(FILES
    "${HORAVO_DATA_DIR}/org.example.horavo.tallyon.metainfo.xml"
    "${HORAVO_DATA_DIR}/org.example.horavo.signova.metainfo.xml"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

foreach(icon tallyon signova)
  install(FILES "${HORAVO_DATA_DIR}/icons/${icon}.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES "${HORAVO_DATA_DIR}/icons/${size}/${icon}.png"
      DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
  endforeach()
endforeach()

foreach(page tallyon signova horavo-setup rasdial tallyon-line)
  install(FILES "${HORAVO_DATA_DIR}/man/${page}.1"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endforeach()
