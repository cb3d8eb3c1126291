# cmake/Packaging.cmake: what makes Tessaline a Linux desktop program beside its two executables:
# the menu entry, the AppStream metainfo, the icons, the manual pages, the bash completion and
# the Debian package that carries them (`cmake --build build/release --target package`).
# Included from the top CMakeLists after the targets exist; the executables' own install rules
# sit beside them in app/ and cli/.

# Sanitizer and fuzzing builds are for finding faults, not for shipping: they get no package and
# do not run their instrumented tessaline-cli at build time to make its manual page.
if(TESSALINE_SANITIZE OR TESSALINE_FUZZ)
    return()
endif()

include(GNUInstallDirs)

set(TESSALINE_APP_ID io.github.tessaline.Tessaline)
set(TESSALINE_HOMEPAGE https://github.com/tessaline/tessaline)
set(TESSALINE_MAINTAINER "Tessaline developers <tessaline@users.noreply.github.com>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")
set(TESSALINE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tessaline)
set(integration_dir ${PROJECT_BINARY_DIR}/integration)
file(MAKE_DIRECTORY ${integration_dir})

find_program(TESSALINE_GZIP gzip REQUIRED)

# Manual pages and changelogs are installed compressed, without a name or time stamp in the
# gzip header, so that two builds of one source give the same package.
function(tessaline_gzip_at_build target source)
    add_custom_command(OUTPUT ${source}.gz
        COMMAND ${TESSALINE_GZIP} -9nkf ${source}
        DEPENDS ${source} VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${source}.gz)
endfunction()

# ---- The release history: the metainfo's <releases> is its one home ----------------------------
set(metainfo_source ${PROJECT_SOURCE_DIR}/resources/${TESSALINE_APP_ID}.metainfo.xml)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${metainfo_source})
file(READ ${metainfo_source} metainfo_text)
string(REGEX MATCHALL "<release version=\"[^\"]+\" date=\"[0-9]+-[0-9]+-[0-9]+\"" releases "${metainfo_text}")
if(NOT releases)
    message(FATAL_ERROR "${metainfo_source} lists no <release version=\"...\" date=\"YYYY-MM-DD\">")
endif()
list(GET releases 0 newest_release)
string(REGEX REPLACE ".*version=\"([^\"]+)\".*" "\\1" newest_version "${newest_release}")
if(NOT newest_version STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "The newest release in ${metainfo_source} is ${newest_version}, but the project "
                        "is ${PROJECT_VERSION}: add a <release> for ${PROJECT_VERSION} at the top of <releases>.")
endif()

# The Debian changelog, newest first, one entry per release. Its dates need the weekday, found
# by Zeller's congruence since CMake has no calendar for a date other than today.
set(day_names Sat Sun Mon Tue Wed Thu Fri)
set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
set(changelog_text "")
foreach(release IN LISTS releases)
    string(REGEX MATCH "version=\"([^\"]+)\" date=\"([0-9]+)-([0-9]+)-([0-9]+)\"" unused "${release}")
    set(version ${CMAKE_MATCH_1})
    math(EXPR year "${CMAKE_MATCH_2}")
    math(EXPR month "${CMAKE_MATCH_3}")
    math(EXPR day "${CMAKE_MATCH_4}")
    set(zyear ${year})
    set(zmonth ${month})
    if(month LESS 3)
        math(EXPR zmonth "${month} + 12")
        math(EXPR zyear "${year} - 1")
    endif()
    math(EXPR weekday "(${day} + (13 * (${zmonth} + 1)) / 5 + ${zyear} + ${zyear} / 4 - ${zyear} / 100 + ${zyear} / 400) % 7")
    list(GET day_names ${weekday} day_name)
    math(EXPR month_index "${month} - 1")
    list(GET month_names ${month_index} month_name)
    if(day LESS 10)
        set(day "0${day}")
    endif()
    string(APPEND changelog_text
           "tessaline (${version}) unstable; urgency=medium\n\n"
           "  * Release ${version}; what changed is listed in\n"
           "    /usr/share/metainfo/${TESSALINE_APP_ID}.metainfo.xml.\n\n"
           " -- ${TESSALINE_MAINTAINER}  ${day_name}, ${day} ${month_name} ${year} 00:00:00 +0000\n\n")
endforeach()
string(REGEX REPLACE "\n\n$" "\n" changelog_text "${changelog_text}")
file(CONFIGURE OUTPUT ${integration_dir}/changelog CONTENT "${changelog_text}" @ONLY)
tessaline_gzip_at_build(tessaline_changelog ${integration_dir}/changelog)
install(FILES ${integration_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/resources/copyright
        DESTINATION ${TESSALINE_DOC_DIR})

# ---- The command-line tool's manual page and completion ------------------------------------------
if(TARGET tessaline-cli)
    # The page is made from the tool's own --help and --version, so every option it gains appears
    # here without an edit; the include file adds what --help does not say.
    find_program(TESSALINE_HELP2MAN help2man)
    if(TESSALINE_HELP2MAN)
        set(cli_page ${integration_dir}/tessaline-cli.1)
        set(cli_include ${PROJECT_SOURCE_DIR}/docs/man/tessaline-cli.h2m)
        add_custom_command(OUTPUT ${cli_page}
            COMMAND ${TESSALINE_HELP2MAN} --no-info --locale=C.UTF-8 --include=${cli_include}
                    --output=${cli_page} $<TARGET_FILE:tessaline-cli>
            DEPENDS tessaline-cli ${cli_include} VERBATIM)
        tessaline_gzip_at_build(tessaline_cli_man ${cli_page})
        install(FILES ${cli_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
        message(WARNING "help2man not found (scripts/bootstrap.sh installs it): "
                        "tessaline-cli.1 is left out of the install and the package")
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/resources/tessaline-cli.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tessaline-cli)
endif()

# ---- The window: menu entry, metainfo, icons and manual page --------------------------------------
if(TARGET tessaline)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/${TESSALINE_APP_ID}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${metainfo_source} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    # The SVG is the icon; the fixed sizes are drawn from it at build time for desktops and
    # menus that want pixels. Without rsvg-convert only the committed 256-pixel picture goes in.
    set(icon_svg ${PROJECT_SOURCE_DIR}/resources/tessaline.svg)
    install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
            RENAME ${TESSALINE_APP_ID}.svg)
    find_program(TESSALINE_RSVG_CONVERT rsvg-convert)
    if(TESSALINE_RSVG_CONVERT)
        set(icon_pngs "")
        foreach(size 16 22 24 32 48 64 128 256)
            set(png ${integration_dir}/icons/${size}/${TESSALINE_APP_ID}.png)
            add_custom_command(OUTPUT ${png}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${integration_dir}/icons/${size}
                COMMAND ${TESSALINE_RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${icon_svg}
                DEPENDS ${icon_svg} VERBATIM)
            list(APPEND icon_pngs ${png})
            install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
        endforeach()
        add_custom_target(tessaline_icons ALL DEPENDS ${icon_pngs})
    else()
        message(WARNING "rsvg-convert not found (scripts/bootstrap.sh installs it): "
                        "only the 256-pixel icon is installed beside the SVG")
        install(FILES ${PROJECT_SOURCE_DIR}/resources/tessaline.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
                RENAME ${TESSALINE_APP_ID}.png)
    endif()

    configure_file(${PROJECT_SOURCE_DIR}/docs/man/tessaline.1.in ${integration_dir}/tessaline.1 @ONLY)
    tessaline_gzip_at_build(tessaline_man ${integration_dir}/tessaline.1)
    install(FILES ${integration_dir}/tessaline.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# ---- The Debian package ---------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaline)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TESSALINE_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "Tessaline developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "colour reduction to palette PNG images")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tessaline reduces the colours of an image to a palette of at most 256 entries\n"
    "and saves a palette PNG (1, 2, 4 or 8 bits per index) with per-entry\n"
    "transparency. The desktop program (Japanese interface) shows source and\n"
    "result side by side at one zoom, lets the user paint weight onto regions\n"
    "that matter and saves one file or a whole batch; tessaline-cli runs the\n"
    "same reduction from scripts.")
set(CPACK_PACKAGE_HOMEPAGE_URL ${TESSALINE_HOMEPAGE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Linked libraries are found by dpkg-shlibdeps; Qt's plugins are loaded at run time, so they are
# named here: the window needs a platform plugin, and TIFF, WebP and others come from the
# image-formats plugins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, qt6-translations-l10n")
include(CPack)
