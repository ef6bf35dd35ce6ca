# The Windows build's resources: every .exe carries the icon (rendered from the free desktops'
# SVG when the build runs), its version information and the manifest in windows/tessaly.manifest.
find_program(TESSALY_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(TESSALY_ICOTOOL icotool REQUIRED)

set(TESSALY_ICON ${CMAKE_BINARY_DIR}/windows/tessaly.ico)
set(TESSALY_ICON_SOURCE ${CMAKE_SOURCE_DIR}/data/io.github.tessaly.Tessaly.svg)
set(icon_pngs)
set(icon_arguments)
# Explorer's sizes at 100-200% scale; the largest is kept as PNG, as Windows reads it.
foreach(size 16 20 24 32 40 48 64 256)
    set(png ${CMAKE_BINARY_DIR}/windows/icon-${size}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${TESSALY_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${TESSALY_ICON_SOURCE}
        DEPENDS ${TESSALY_ICON_SOURCE} VERBATIM)
    list(APPEND icon_pngs ${png})
    if(size EQUAL 256)
        list(APPEND icon_arguments -r ${png})
    else()
        list(APPEND icon_arguments ${png})
    endif()
endforeach()
add_custom_command(OUTPUT ${TESSALY_ICON}
    COMMAND ${TESSALY_ICOTOOL} -c -o ${TESSALY_ICON} ${icon_arguments}
    DEPENDS ${icon_pngs} VERBATIM)
add_custom_target(tessaly_icon DEPENDS ${TESSALY_ICON})

string(REGEX MATCHALL "[0-9]+" version_numbers "${PROJECT_VERSION}.0.0.0")
list(SUBLIST version_numbers 0 4 version_numbers)
list(JOIN version_numbers "," TESSALY_VERSION_QUAD)
list(JOIN version_numbers "." TESSALY_VERSION_QUAD_DOTS)
set(TESSALY_MANIFEST ${CMAKE_BINARY_DIR}/windows/tessaly.manifest)
configure_file(${CMAKE_SOURCE_DIR}/windows/tessaly.manifest ${TESSALY_MANIFEST} @ONLY)

# Gives target (an .exe named after it) the resources, described by description.
function(tessaly_windows_resources target description)
    set(TESSALY_RC_NAME ${target})
    set(TESSALY_RC_DESCRIPTION ${description})
    set(rc ${CMAKE_BINARY_DIR}/windows/${target}.rc)
    configure_file(${CMAKE_SOURCE_DIR}/windows/tessaly.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES
        OBJECT_DEPENDS "${TESSALY_ICON};${TESSALY_MANIFEST}")
    add_dependencies(${target} tessaly_icon)
endfunction()
