# Installation as a desktop program (GNU layout, freedesktop.org menu entry, icons,
# AppStream metadata, manual pages, bash completion) and the Debian package built by CPack.
include(GNUInstallDirs)

set(TRACKHAUL_ID org.trackhaul.Trackhaul)
set(TRACKHAUL_DATA ${CMAKE_SOURCE_DIR}/data)
set(TRACKHAUL_GENERATED ${CMAKE_BINARY_DIR}/data)
# Documents of the Debian package go under the package's name, not the project's.
set(TRACKHAUL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/trackhaul)

install(TARGETS trackhaul-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TRACKHAUL_BUILD_APP)
    install(TARGETS trackhaul RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${TRACKHAUL_DATA}/${TRACKHAUL_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${TRACKHAUL_DATA}/${TRACKHAUL_ID}.metainfo.xml.in
               ${TRACKHAUL_GENERATED}/${TRACKHAUL_ID}.metainfo.xml @ONLY)
install(FILES ${TRACKHAUL_GENERATED}/${TRACKHAUL_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TRACKHAUL_DATA}/completion/trackhaul-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Icons: the drawing itself, and pictures for desktops that want them. The pictures are
# rendered from the drawing when rsvg-convert is there; otherwise the rendered copies kept
# next to the drawing are installed.
set(icon_svg ${TRACKHAUL_DATA}/icons/${TRACKHAUL_ID}.svg)
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(RSVG_CONVERT rsvg-convert)
set(generated_files)
foreach(size 48 256)
    if(RSVG_CONVERT)
        set(png ${TRACKHAUL_GENERATED}/icons/${TRACKHAUL_ID}-${size}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${TRACKHAUL_GENERATED}/icons
            COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${icon_svg}
            DEPENDS ${icon_svg}
            VERBATIM)
        list(APPEND generated_files ${png})
    else()
        set(png ${TRACKHAUL_DATA}/icons/${TRACKHAUL_ID}-${size}.png)
    endif()
    install(FILES ${png} RENAME ${TRACKHAUL_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages and the package's change log carry the version; Debian wants them compressed.
find_program(GZIP gzip REQUIRED)
set(gzip_inputs)
foreach(page trackhaul trackhaul-cli)
    configure_file(${TRACKHAUL_DATA}/man/${page}.1.in ${TRACKHAUL_GENERATED}/man/${page}.1 @ONLY)
    list(APPEND gzip_inputs ${TRACKHAUL_GENERATED}/man/${page}.1)
endforeach()
# The change log's newest entry must name the version being built.
file(STRINGS ${TRACKHAUL_DATA}/debian/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^trackhaul \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "data/debian/changelog has no entry for version ${PROJECT_VERSION}")
endif()
configure_file(${TRACKHAUL_DATA}/debian/changelog ${TRACKHAUL_GENERATED}/changelog COPYONLY)
list(APPEND gzip_inputs ${TRACKHAUL_GENERATED}/changelog)
foreach(input ${gzip_inputs})
    add_custom_command(OUTPUT ${input}.gz
        COMMAND ${GZIP} -9 -n -k -f ${input}
        DEPENDS ${input}
        VERBATIM)
    list(APPEND generated_files ${input}.gz)
endforeach()
add_custom_target(trackhaul_data ALL DEPENDS ${generated_files})
install(FILES ${TRACKHAUL_GENERATED}/man/trackhaul-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TRACKHAUL_BUILD_APP)
    install(FILES ${TRACKHAUL_GENERATED}/man/trackhaul.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${TRACKHAUL_GENERATED}/changelog.gz ${TRACKHAUL_DATA}/debian/copyright
        DESTINATION ${TRACKHAUL_DOCDIR})

# The Debian package: cpack -G DEB in the build folder (./do package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trackhaul)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Trackhaul developers")
set(CPACK_PACKAGE_CONTACT "Trackhaul maintainers <maintainers@trackhaul.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME trackhaul)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Trackhaul maintainers <maintainers@trackhaul.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://trackhaul.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "move audio between the computer and the ZT-6 recorder's card
The ZT-6 is a portable eight-track recorder whose card shows up as a
removable drive. Trackhaul imports the tracks of a song on the card as
continuous mono 16-bit WAV files, with every take at its place, and
exports WAV files from the computer into a song, adding them to its edit
list. It has a window (trackhaul) and a command-line tool (trackhaul-cli).")
include(CPack)
