# Installation and the Debian package: programs in bin, read-only data in share/kavel (found by
# platform::Paths relative to the executable, so any prefix works), desktop integration files
# and manual pages where a desktop and man look for them.
include(GNUInstallDirs)

set(KAVEL_APP_ID "de.quarnet.Kavel")
set(KAVEL_DIST_DIR ${PROJECT_SOURCE_DIR}/dist)
set(KAVEL_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(KAVEL_GENERATED_DIST ${PROJECT_BINARY_DIR}/dist)

install(TARGETS kavel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The desktop program comes from src/app when the Qt layers are built.
if(TARGET kavel)
    install(TARGETS kavel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(KAVEL_HELP_PAGES)
    install(FILES ${KAVEL_HELP_PAGES} DESTINATION ${CMAKE_INSTALL_DATADIR}/kavel/help)
else()
    # Paths decides "installed" by this folder's presence, so it exists even without help pages.
    install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/kavel)
endif()

# The icon: the SVG itself plus the fixed sizes that menus and older desktops pick.
set(KAVEL_ICON_SVG ${PROJECT_SOURCE_DIR}/src/ui/icons/kavel.svg)
install(FILES ${KAVEL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(RSVG_CONVERT_EXE rsvg-convert)
if(RSVG_CONVERT_EXE)
    set(icon_files "")
    foreach(size 16 32 48 64 128 256)
        set(png ${KAVEL_GENERATED_DIST}/icons/${size}x${size}/kavel.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${KAVEL_GENERATED_DIST}/icons/${size}x${size}
            COMMAND ${RSVG_CONVERT_EXE} --width=${size} --height=${size} --keep-aspect-ratio
                    --output=${png} ${KAVEL_ICON_SVG}
            DEPENDS ${KAVEL_ICON_SVG}
            COMMENT "Rendering the ${size}px icon" VERBATIM)
        list(APPEND icon_files ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(kavel_icons ALL DEPENDS ${icon_files})
else()
    message(WARNING "rsvg-convert not found (scripts/install-deps.sh installs it): "
        "only the scalable icon is installed")
endif()

install(FILES ${KAVEL_DIST_DIR}/${KAVEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${KAVEL_DIST_DIR}/${KAVEL_APP_ID}.metainfo.xml.in
    ${KAVEL_GENERATED_DIST}/${KAVEL_APP_ID}.metainfo.xml @ONLY)
install(FILES ${KAVEL_GENERATED_DIST}/${KAVEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KAVEL_DIST_DIR}/kavel-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME kavel-cli)

# Manual pages. kavel-cli's is written from its own help texts after it is built.
configure_file(${KAVEL_DIST_DIR}/man/kavel.1.in ${KAVEL_GENERATED_DIST}/man/kavel.1 @ONLY)
add_custom_command(OUTPUT ${KAVEL_GENERATED_DIST}/man/kavel-cli.1
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:kavel-cli> -DTEMPLATE=${KAVEL_DIST_DIR}/man/kavel-cli.1.in
            -DOUTPUT=${KAVEL_GENERATED_DIST}/man/kavel-cli.1 -DVERSION=${KAVEL_VERSION}
            -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS kavel-cli ${KAVEL_DIST_DIR}/man/kavel-cli.1.in ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Writing the kavel-cli manual page" VERBATIM)
add_custom_target(kavel_man ALL DEPENDS ${KAVEL_GENERATED_DIST}/man/kavel-cli.1)
install(FILES ${KAVEL_GENERATED_DIST}/man/kavel.1 ${KAVEL_GENERATED_DIST}/man/kavel-cli.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package. Library dependencies come from dpkg-shlibdeps; Qt's platform and SVG
# plugins are loaded at run time, so no library scan can see them.
set(CPACK_PACKAGE_NAME kavel)
set(CPACK_PACKAGE_VENDOR "${KAVEL_COMPANY_NAME}")
set(CPACK_PACKAGE_VERSION "${KAVEL_VERSION}")
set(CPACK_PACKAGE_CONTACT "${KAVEL_COMPANY_NAME} <kavel@quarnet.de>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live monitor for web server access logs")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kavel tails the access logs of web servers (Apache and nginx in the NCSA
Combined format, IIS in the W3C Extended format) as they are written,
classifies every access and flags suspicious requests as they happen.
.
The package holds the desktop program kavel and the command-line
companion kavel-cli.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET kavel)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, qt6-translations-l10n")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)

if(KAVEL_BUILD_TESTS)
    add_test(NAME ManPageMatchesHelp
        COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:kavel-cli> -DPAGE=${KAVEL_GENERATED_DIST}/man/kavel-cli.1
                -DCOMPLETION=${KAVEL_DIST_DIR}/kavel-cli.bash -P ${PROJECT_SOURCE_DIR}/tests/dist/ManPageMatchesHelp.cmake)
    # The package is about what ships, not memory safety: sanitizer builds do not package.
    find_program(DPKG_DEB_EXE dpkg-deb)
    if(DPKG_DEB_EXE AND CMAKE_CPACK_COMMAND AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
        add_test(NAME PackageInstallsAndRuns
            COMMAND ${PROJECT_SOURCE_DIR}/tests/dist/PackageTest.sh ${PROJECT_BINARY_DIR} ${CMAKE_CPACK_COMMAND})
        set_tests_properties(PackageInstallsAndRuns PROPERTIES TIMEOUT 600 RUN_SERIAL ON)
    endif()
endif()
