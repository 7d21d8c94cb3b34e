# What `cmake --install` puts where, and the packages CPack builds from it:
#   Linux:   bin/spectrometer, bin/spectrosim, the menu entry, the AppStream
#            metainfo, the icon in the hicolor theme, the man pages, the
#            copyright file, the changelog and the lintian overrides;
#            `cpack -G DEB` makes the Debian package.
#   Windows: spectrometer.exe, data\conf.dat with the calibration dialog's
#            initial lines and LIESMICH.txt; `cpack -G ZIP` makes the zip.
#            The build also makes the Windows Installer package (Msi.cmake).
# Included by the top-level CMakeLists.txt after every target exists.

set(spectro_package_dir ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_CONTACT "Spektrometer maintainers <maintainers@users.noreply.c-seed-dc90feec.example>")

if(WIN32)
  if(NOT TARGET spectrometer)
    message(STATUS "No spectrometer target in this build: no Windows zip")
    return()
  endif()
  install(TARGETS spectrometer RUNTIME DESTINATION .)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  file(WRITE ${spectro_package_dir}/data/conf.dat "${SPECTRO_INITIAL_CALIBRATION}")
  install(FILES ${spectro_package_dir}/data/conf.dat DESTINATION data)
  # Windows text: UTF-8 with a byte-order mark (so every Notepad reads it so), CR LF.
  file(READ ${PROJECT_SOURCE_DIR}/app/LIESMICH.txt spectro_readme)
  string(CONFIGURE "${spectro_readme}" spectro_readme @ONLY)
  string(REPLACE "\n" "\r\n" spectro_readme "${spectro_readme}")
  string(ASCII 239 187 191 spectro_bom)
  file(WRITE ${spectro_package_dir}/LIESMICH.txt "${spectro_bom}${spectro_readme}")
  install(FILES ${spectro_package_dir}/LIESMICH.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)

  # The installer's package: the zip's program and text, no data folder (an
  # installed copy keeps its calibration under %APPDATA%, told so by the marker).
  file(WRITE ${spectro_package_dir}/spektrometer.installed
       "Vom Windows-Installer installiert: die Kalibrierung steht unter %APPDATA%\\Spektrometer\\data.\r\n")
  include(${PROJECT_SOURCE_DIR}/cmake/Msi.cmake)
  spectro_add_msi(msi ${CMAKE_BINARY_DIR}/spectrometer-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}.msi ${PROJECT_VERSION})
  if(SPECTRO_TESTS)
    # A newer version of the same package, for the upgrade test.
    set(next_patch 1)
    if(PROJECT_VERSION_PATCH)
      math(EXPR next_patch "${PROJECT_VERSION_PATCH} + 1")
    endif()
    spectro_add_msi(msi_upgrade ${CMAKE_BINARY_DIR}/tests/package/spectrometer-upgrade.msi
                    ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${next_patch})
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  if(NOT TARGET spectrometer)
    return()
  endif()
  include(GNUInstallDirs)
  install(TARGETS spectrometer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET spectrosim)
    install(TARGETS spectrosim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  # Stripped as Debian's tools strip: without the compiler's notes either.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(program spectrometer spectrosim)
        set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
        if(EXISTS \"\${file}\")
          execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                                  \"\${file}\" COMMAND_ERROR_IS_FATAL ANY)
        endif()
      endforeach()
    endif()")

  # The menu entry is named by the AppStream id, as software centres expect.
  set(SPECTRO_APP_ID org.example.spektrometer)
  install(FILES ${PROJECT_SOURCE_DIR}/app/spectrometer.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications RENAME ${SPECTRO_APP_ID}.desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/app/spectrometer.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

  # The metainfo's releases come from CHANGELOG.md, as the Debian changelog below.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/changelog.py)
  execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/changelog.py appstream
                          ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                  OUTPUT_VARIABLE SPECTRO_RELEASES OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" "\n    " SPECTRO_RELEASES "${SPECTRO_RELEASES}")
  configure_file(${PROJECT_SOURCE_DIR}/app/spectrometer.metainfo.xml.in
                 ${spectro_package_dir}/${SPECTRO_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${spectro_package_dir}/${SPECTRO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  install(FILES ${PROJECT_SOURCE_DIR}/app/spectrometer.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME spectrometer)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/app/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Man pages and the changelog, compressed as Debian keeps them (gzip -n: no
  # time stamp inside).
  find_program(GZIP gzip REQUIRED)
  set(spectro_docs)
  foreach(page app/spectrometer.1 tools/spectrosim/spectrosim.1)
    get_filename_component(name ${page} NAME)
    configure_file(${PROJECT_SOURCE_DIR}/${page} ${spectro_package_dir}/${name} @ONLY)
    add_custom_command(OUTPUT ${spectro_package_dir}/${name}.gz
                       COMMAND ${GZIP} -9nf -k ${spectro_package_dir}/${name}
                       DEPENDS ${spectro_package_dir}/${name} VERBATIM)
    list(APPEND spectro_docs ${spectro_package_dir}/${name}.gz)
  endforeach()
  install(FILES ${spectro_docs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # A native package's changelog is in Debian's format: CHANGELOG.md rewritten.
  add_custom_command(OUTPUT ${spectro_package_dir}/changelog.gz
                     COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/changelog.py debian
                             ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${spectro_package_dir}/changelog
                             spectrometer ${CPACK_PACKAGE_CONTACT}
                     COMMAND ${GZIP} -9nf ${spectro_package_dir}/changelog
                     DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/changelog.py
                     VERBATIM)
  install(FILES ${spectro_package_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  add_custom_target(package_docs ALL DEPENDS ${spectro_docs} ${spectro_package_dir}/changelog.gz)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # spectrometer_<version>_<arch>.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  # The Qt and C++ runtime libraries from the binaries themselves.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_PACKAGE_NAME spectrometer)
set(CPACK_PACKAGE_VENDOR "Spektrometer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Messprogramm für ein Schulspektrometer am seriellen Port")
# Lines of at most 80 columns, as Debian shows them; "." between paragraphs.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Port wählen, Temperatur lesen, ein Spektrum mit 128 Punkten aufnehmen, als\n"
       "Liste und Kurve zeigen, Wellenlängen mit zwei bekannten Linien kalibrieren\n"
       "und als .dat-Datei speichern.\n"
       ".\n"
       "Das Spektrumfenster zeigt jede Aufnahme über der Wellenlänge, mit Zoom,\n"
       "Peaks, Kalibrierung aus Referenzlinien, Transmission und Extinktion gegen\n"
       "eine Referenz sowie Export als CSV und JCAMP-DX.\n"
       ".\n"
       "Mit einem simulierten Gerät (spectrosim) zum Ausprobieren ohne Hardware.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
