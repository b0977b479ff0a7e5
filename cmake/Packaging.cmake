# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it:
#   bin/vitalon, bin/vitalon-sim
#   share/applications/<id>.desktop, share/metainfo/<id>.metainfo.xml
#   share/icons/hicolor/<size>x<size>/apps/vitalon.png, .../scalable/apps/vitalon.svg
#   share/man/man1/vitalon.1.gz, vitalon-sim.1.gz
#   share/doc/vitalon/README.md and the licence
# Nothing that only tests or benchmarks use is installed.
include(GNUInstallDirs)

set(VITALON_APP_ID "io.github.vitalon.Vitalon")
set(VITALON_MAINTAINER "Vitalon maintainers <vitalon@example.org>"
    CACHE STRING "Maintainer named in the Debian package")
# The Debian package wants the licence as share/doc/vitalon/copyright and a changelog beside it.
option(VITALON_DEBIAN_DOCS "Install the documentation files a Debian package needs" OFF)

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vitalon)

install(TARGETS vitalon vitalon-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${packaging_dir}/${VITALON_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_dir}/${VITALON_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${packaging_dir}/icons/vitalon-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME vitalon.png)
endforeach()
install(FILES ${packaging_dir}/icons/vitalon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Dates in the manual pages and the changelog follow SOURCE_DATE_EPOCH when it is set, so
# the same sources make the same package.
string(TIMESTAMP VITALON_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP VITALON_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# The manual pages carry the project's version; installed compressed, as man expects.
find_program(VITALON_GZIP gzip REQUIRED)
set(VITALON_MAN_PAGES)
set(compressed_pages)
foreach(page vitalon.1 vitalon-sim.1)
    set(source ${packaging_dir}/man/${page}.in)
    set(page_file ${PROJECT_BINARY_DIR}/man/${page})
    configure_file(${source} ${page_file} @ONLY)
    list(APPEND VITALON_MAN_PAGES ${page_file})
    # -n leaves the name and time out of the archive, so it is the same on every build.
    add_custom_command(OUTPUT ${page_file}.gz
                       COMMAND ${VITALON_GZIP} -9nc ${page_file} > ${page_file}.gz
                       DEPENDS ${page_file} ${source}
                       COMMENT "Compressing the manual page ${page}")
    list(APPEND compressed_pages ${page_file}.gz)
endforeach()
add_custom_target(vitalon_man_pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc_dir})
if(VITALON_DEBIAN_DOCS)
    set(copyright_file ${PROJECT_BINARY_DIR}/debian/copyright)
    # The permission notice: LICENSE from its first paragraph after the copyright line.
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE VITALON_LICENSE_TEXT)
    string(FIND "${VITALON_LICENSE_TEXT}" "Permission is hereby granted" notice_start)
    string(SUBSTRING "${VITALON_LICENSE_TEXT}" ${notice_start} -1 VITALON_LICENSE_TEXT)
    # The licence text as an indented paragraph of the machine-readable copyright format.
    string(REGEX REPLACE "\n\n" "\n.\n" VITALON_LICENSE_TEXT "${VITALON_LICENSE_TEXT}")
    string(REGEX REPLACE "\n([^\n])" "\n \\1" VITALON_LICENSE_TEXT "${VITALON_LICENSE_TEXT}")
    string(STRIP "${VITALON_LICENSE_TEXT}" VITALON_LICENSE_TEXT)
    configure_file(${packaging_dir}/debian/copyright.in ${copyright_file} @ONLY)
    set(changelog_file ${PROJECT_BINARY_DIR}/debian/changelog)
    configure_file(${packaging_dir}/debian/changelog.in ${changelog_file} @ONLY)
    add_custom_command(OUTPUT ${changelog_file}.gz
                       COMMAND ${VITALON_GZIP} -9nc ${changelog_file} > ${changelog_file}.gz
                       DEPENDS ${changelog_file}
                       COMMENT "Compressing the changelog")
    add_custom_target(vitalon_changelog ALL DEPENDS ${changelog_file}.gz)
    install(FILES ${copyright_file} ${changelog_file}.gz DESTINATION ${doc_dir})
else()
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir})
endif()

# The Debian package: `cpack -G DEB` in the build tree (scripts/package does it all).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vitalon)
set(CPACK_PACKAGE_VENDOR "The Vitalon developers")
set(CPACK_PACKAGE_CONTACT "${VITALON_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor and test serial ECG acquisition modules")
set(CPACK_PACKAGE_DESCRIPTION
    "Vitalon monitors and tests the TR71000 and TR71010 ECG acquisition modules on a
serial port. It finds the module on one of eight serial ports, puts it into a
known state, draws the live ECG as a sweeping trace, shows the pulse and
respiration rates and the module's status with a no-data watchdog, beeps once
per pulse on request, and changes the module's settings with one click each.
.
A built-in simulated module, and the vitalon-sim tool that serves it on a
pseudo-terminal, let you try the program and test host software without
hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VITALON_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its SQL drivers as plugins, which the library dependencies do not
# show: the results store needs the SQLite one; a shared results server the
# PostgreSQL one.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6sql6-sqlite)
# The pulse tone plays through the sound server; without it the program runs silent.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio, libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
