# The manual page quen(1), the installed documentation and the Debian package.
#
# The manual page is made by help2man from quen's own --help and --version and every command's
# help (cmake/man_page.cmake), so it says what the program says. Without help2man the build goes on
# without it, and the package cannot be made.
find_program(QUEN_HELP2MAN help2man)
set(QUEN_MAN_PAGE ${CMAKE_BINARY_DIR}/man/quen.1)
if(QUEN_HELP2MAN)
  add_custom_command(OUTPUT ${QUEN_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -DQUEN=$<TARGET_FILE:quen> -DHELP2MAN=${QUEN_HELP2MAN} -DOUT=${QUEN_MAN_PAGE}
            -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
    DEPENDS quen ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
    COMMENT "Making the manual page quen.1 from quen --help")
  add_custom_target(quen-man-page ALL DEPENDS ${QUEN_MAN_PAGE})
  # Debian keeps manual pages compressed with gzip -9n (no name or time stamp: the same bytes
  # from the same page).
  install(CODE "execute_process(COMMAND gzip -9nc \"${QUEN_MAN_PAGE}\"
    OUTPUT_FILE \"${CMAKE_BINARY_DIR}/man/quen.1.gz\" COMMAND_ERROR_IS_FATAL ANY)")
  install(FILES ${CMAKE_BINARY_DIR}/man/quen.1.gz DESTINATION share/man/man1)
else()
  message(STATUS "help2man not found: no manual page (scripts/deps.sh installs it)")
endif()

# Documentation: the README and docs/ pages, the copyright file and the changelog, where Debian
# expects them (share/doc/quen; the changelog compressed like the manual page).
set(QUEN_DOC_DIR share/doc/quen)
install(FILES README.md ${PROJECT_SOURCE_DIR}/resources/debian/copyright DESTINATION ${QUEN_DOC_DIR})
install(DIRECTORY docs/ DESTINATION ${QUEN_DOC_DIR}/docs)
install(CODE "execute_process(COMMAND gzip -9nc \"${PROJECT_SOURCE_DIR}/resources/debian/changelog\"
  OUTPUT_FILE \"${CMAKE_BINARY_DIR}/changelog.gz\" COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${QUEN_DOC_DIR})

# The Debian package: cpack -G DEB in the build folder (scripts/package.sh). Its runtime
# dependencies are what dpkg-shlibdeps finds the installed programs and modules really link.
set(CPACK_PACKAGE_NAME quen)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR TAVL)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quen developers <quen@tavl.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gimp)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fourier-spectrum filters and removal of periodic noise")
# The long description; CPack indents it for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quen removes periodic noise from pictures: stripes, scan lines, moire and
halftone screens. The quen command cleans scans automatically (quen clean)
and runs five spectrum filter modules on PNG, TIFF, JPEG and WebP files:
turn a picture into its spectrum, remove frequencies, and turn it back.

The GIMP plug-in offers the same filters and the automatic cleaning in
GIMP 2.10, in the menu Filters > Quen.")
set(CPACK_GENERATOR DEB)
include(CPack)
