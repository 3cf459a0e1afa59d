# `cpack -G DEB` in a configured and built tree makes one Debian package with
# the program, kvraw, KorvaneBase (library, headers, CMake package) and the
# desktop files. Library dependencies come from dpkg-shlibdeps; what is only
# loaded at run time (Qt's SVG plugins for the icons) is named by hand.
set(CPACK_PACKAGE_NAME velqora)
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer and recorder for event cameras")
set(CPACK_PACKAGE_DESCRIPTION
    "Velqora plays back RAW event camera recordings (EVT 3.0 and EVT 2.0), watches and tunes \
live cameras, records, cuts and exports. Includes the kvraw command-line tool and the \
KorvaneBase library with its headers and CMake package.")
set(CPACK_PACKAGE_CONTACT "Korvane <support@korvane.com>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Velqora)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own library: dpkg-shlibdeps resolves it inside the package.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6 (>= 6.4)")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://korvane.com/velqora")

include(CPack)
