# Installation of the documentation and desktop metadata, and the Debian package:
# cpack -G DEB in the build folder. The package holds what `cmake --install` puts in
# place: tandemo, tandemo-merge, their manual pages, the desktop entry, the AppStream
# description, the icon, the copyright file and the changelog.
set(TANDEMO_APP_ID io.github.tandemo.Tandemo)
set(TANDEMO_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tandemo)  # DOCDIR would say "Tandemo"

# The changelog's newest entry names the version the package is built as.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^tandemo \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with \"${changelog_head}\": its newest entry "
                      "must be version ${PROJECT_VERSION}, the project's version")
endif()

# Manual pages and the changelog are installed gzip-compressed; -n leaves out the
# name and time stamp, so the same sources give the same bytes.
find_program(TANDEMO_GZIP gzip REQUIRED)
set(packaging_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(compressed)
function(tandemo_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}
    COMMAND ${TANDEMO_GZIP} -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${source}")
  set(compressed ${compressed} ${output} PARENT_SCOPE)
endfunction()

# A native package's Debian changelog is called changelog.gz.
tandemo_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog ${packaging_out}/changelog.gz)
install(FILES ${packaging_out}/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${TANDEMO_DOC_DIR})

tandemo_gzip(${CMAKE_CURRENT_LIST_DIR}/tandemo-merge.1 ${packaging_out}/tandemo-merge.1.gz)
install(FILES ${packaging_out}/tandemo-merge.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TANDEMO_BUILD_GUI)
  tandemo_gzip(${CMAKE_CURRENT_LIST_DIR}/tandemo.1 ${packaging_out}/tandemo.1.gz)
  install(FILES ${packaging_out}/tandemo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/${TANDEMO_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
endif()
add_custom_target(tandemo-compressed-docs ALL DEPENDS ${compressed})

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
# Folders as Debian wants them whatever the umask of the one who builds.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tandemo maintainers <maintainers@tandemo.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link come from dpkg-shlibdeps; Qt's platform plugins
# (X11 and the rest) are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)

# Checks of the package and of the desktop metadata, labelled "package".
if(TANDEMO_BUILD_TESTS)
  find_program(TANDEMO_APPSTREAMCLI appstreamcli)
  find_program(TANDEMO_DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(NOT TANDEMO_APPSTREAMCLI)
    set(TANDEMO_APPSTREAMCLI appstreamcli)  # the test then fails with "Could not find executable"
  endif()
  if(NOT TANDEMO_DESKTOP_FILE_VALIDATE)
    set(TANDEMO_DESKTOP_FILE_VALIDATE desktop-file-validate)
  endif()
  add_test(NAME package_appstream_validate
           COMMAND ${TANDEMO_APPSTREAMCLI} validate --no-net --explain
                   ${CMAKE_CURRENT_LIST_DIR}/${TANDEMO_APP_ID}.metainfo.xml)
  add_test(NAME package_desktop_file_validate
           COMMAND ${TANDEMO_DESKTOP_FILE_VALIDATE}
                   ${CMAKE_CURRENT_LIST_DIR}/${TANDEMO_APP_ID}.desktop)
  set_tests_properties(package_appstream_validate package_desktop_file_validate
                       PROPERTIES LABELS package)

  # The package only makes sense with the window and without sanitizers.
  if(TANDEMO_BUILD_GUI AND NOT TANDEMO_SANITIZE)
    add_test(NAME package_deb_lintian
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/lintian_deb.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(package_deb_lintian PROPERTIES
      LABELS package SKIP_RETURN_CODE 77 TIMEOUT 600)
  endif()
endif()
