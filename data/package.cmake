# What `make install` and the Debian package hold: the program, its desktop
# entry, the icon in the hicolor theme (scalable and the PNG sizes desktops
# ask for), the AppStream metainfo, the manual page and the documents Debian
# asks of a package. `tools/setup.sh package` builds the package with CPack.
include(GNUInstallDirs)
set(MV_DATA ${CMAKE_SOURCE_DIR}/data)
set(MV_DATA_OUT ${CMAKE_BINARY_DIR}/data)

install(TARGETS moravista RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${MV_DATA}/moravista.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MV_DATA}/org.moravista.Moravista.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${MV_DATA}/moravista.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${MV_DATA}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Debian keeps manual pages and changelogs compressed, without time stamps.
set(MV_DATA_FILES)
foreach(pair "moravista.1;moravista.1.gz" "changelog;changelog.gz")
  list(GET pair 0 source)
  list(GET pair 1 packed)
  add_custom_command(OUTPUT ${MV_DATA_OUT}/${packed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MV_DATA_OUT}
    COMMAND gzip -9n -c ${MV_DATA}/${source} > ${MV_DATA_OUT}/${packed}
    DEPENDS ${MV_DATA}/${source} VERBATIM)
  list(APPEND MV_DATA_FILES ${MV_DATA_OUT}/${packed})
endforeach()
install(FILES ${MV_DATA_OUT}/moravista.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MV_DATA_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The PNG sizes of the icon, drawn from the SVG.
find_program(MV_RSVG_CONVERT rsvg-convert)
if(MV_RSVG_CONVERT)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${MV_DATA_OUT}/icons/${size}x${size}/moravista.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${MV_DATA_OUT}/icons/${size}x${size}
      COMMAND ${MV_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${MV_DATA}/moravista.svg
      DEPENDS ${MV_DATA}/moravista.svg VERBATIM)
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    list(APPEND MV_DATA_FILES ${png})
  endforeach()
else()
  message(STATUS "rsvg-convert not found: the icon is installed as SVG only")
endif()
add_custom_target(mv_data ALL DEPENDS ${MV_DATA_FILES})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME moravista)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Moravista developers")
set(CPACK_PACKAGE_CONTACT "The Moravista developers <developers@moravista.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small, fast media player")
# The synopsis above; the long description below, one paragraph.
set(CPACK_PACKAGE_DESCRIPTION "Moravista plays video, sound and still or animated pictures from a
playlist in one borderless window that draws everything itself: the
picture, subtitles, progress, information lines and notices, with a
Chinese interface. Media keys and the desktop's media widgets control it,
and show the playing item's title, artist, album and cover.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program needs, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
