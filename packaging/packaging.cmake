# The Debian package: cpack -G DEB in the build folder. It holds what
# `cmake --install` puts in place: tandemo, tandemo-merge, the desktop entry and
# the icon.
set(CPACK_PACKAGE_NAME tandemo)
set(CPACK_PACKAGE_VENDOR "Tandemo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join the two portions of an ITC titration into one data file")
set(CPACK_PACKAGE_DESCRIPTION
    "Tandemo joins the two raw data files of an isothermal titration calorimetry\n"
    "run carried out in two portions into one file for data analysis: the second\n"
    "portion's injections are numbered and timed on from the first, and its DP\n"
    "signal can be shifted so that the baseline runs on smoothly.\n"
    "The package holds the desktop program tandemo and the command-line tool\n"
    "tandemo-merge.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tandemo maintainers <maintainers@tandemo.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps; Qt's platform plugins
# (X11 and the rest) are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
