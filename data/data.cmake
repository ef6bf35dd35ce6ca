# Included from the top folder, so the window's icon resource can be built into `tessaly`.
set(DATA_DIR ${CMAKE_CURRENT_SOURCE_DIR}/data)

# Man pages, from scdoc sources.
find_program(SCDOC scdoc REQUIRED)
set(MAN_PAGES tessaly-convert.1)
if(TESSALY_BUILD_GUI)
    list(APPEND MAN_PAGES tessaly.1)
endif()
foreach(page ${MAN_PAGES})
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
        COMMAND ${SCDOC} < ${DATA_DIR}/${page}.scd > ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
        DEPENDS ${DATA_DIR}/${page}.scd VERBATIM)
    list(APPEND MAN_OUTPUTS ${CMAKE_CURRENT_BINARY_DIR}/man/${page})
endforeach()
add_custom_target(tessaly_man_pages ALL DEPENDS ${MAN_OUTPUTS})
install(FILES ${MAN_OUTPUTS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# bash-completion's completionsdir is ${datadir}/bash-completion/completions; under a user's
# prefix (~/.local) that is where bash-completion looks for a user's own completions.
install(FILES ${DATA_DIR}/tessaly-convert.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tessaly-convert)

if(NOT TESSALY_BUILD_GUI)
    return()
endif()

# The icon: the SVG, and PNGs rendered from it at every size the hicolor theme lists. The PNGs
# also go into the window as a resource, for when the theme has no icon of its name (a run
# from the build folder); Qt reads them without its SVG plugin.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(ICON_SVG ${DATA_DIR}/${TESSALY_APP_ID}.svg)
foreach(size 16 32 48 64 128 256)
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons
        COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${ICON_SVG}
        DEPENDS ${ICON_SVG} VERBATIM)
    list(APPEND ICON_PNGS ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${TESSALY_APP_ID}.png)
endforeach()
install(FILES ${ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
qt_add_resources(tessaly tessaly_icon PREFIX /icon BASE ${CMAKE_CURRENT_BINARY_DIR}/icons
                 FILES ${ICON_PNGS})

install(FILES ${DATA_DIR}/${TESSALY_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${DATA_DIR}/${TESSALY_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
