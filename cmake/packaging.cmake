# Installation and packages.
#   cmake --install build [--prefix /usr/local]   bin/treecopy and share/man/man1/treecopy.1
#   cd build && cpack                             a Debian package, or for the Windows build a
#                                                 zip with treecopy.exe, the README and the
#                                                 manual as text
include(GNUInstallDirs)

set(TREECOPY_MANUAL ${CMAKE_SOURCE_DIR}/doc/treecopy.1)

if(WIN32)
  # A folder that runs where it is unpacked: the program with the README and the manual beside
  # it, as text with CR LF line ends.
  find_program(TREECOPY_GROFF groff)
  set(TREECOPY_TEXT_DOCS ${CMAKE_BINARY_DIR}/README.txt)
  if(TREECOPY_GROFF)
    list(APPEND TREECOPY_TEXT_DOCS ${CMAKE_BINARY_DIR}/treecopy.txt)
  else()
    message(WARNING "groff is not installed: the Windows zip gets no manual (apt-get install groff)")
  endif()
  add_custom_command(
    OUTPUT ${TREECOPY_TEXT_DOCS}
    COMMAND ${CMAKE_COMMAND} -DGROFF=${TREECOPY_GROFF} -DMANUAL=${TREECOPY_MANUAL}
            -DREADME=${CMAKE_SOURCE_DIR}/README.md -DOUT_DIR=${CMAKE_BINARY_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/text-docs.cmake
    DEPENDS ${TREECOPY_MANUAL} ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/text-docs.cmake
    COMMENT "Writing README.txt and the manual as text")
  add_custom_target(text_docs ALL DEPENDS ${TREECOPY_TEXT_DOCS})
  install(TARGETS treecopy RUNTIME DESTINATION .)
  install(FILES ${TREECOPY_TEXT_DOCS} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME treecopy-${PROJECT_VERSION}-win64)
else()
  install(TARGETS treecopy RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${TREECOPY_MANUAL} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(CPACK_GENERATOR DEB)
  # The run-time dependencies are read from the program itself: the C and C++ runtime.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
endif()

set(CPACK_PACKAGE_NAME treecopy)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "treecopy developers <treecopy@invalid>" CACHE STRING
    "Maintainer named in the packages")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "selective tree copier choosing files by their destination namesakes")
set(CPACK_PACKAGE_DESCRIPTION
    "treecopy copies a source tree into a destination directory, or moves, compares or deletes\n\
the files instead, choosing each file by comparing it with its namesake in the destination:\n\
absent, newer, older, larger, smaller, different attributes or identical. It can verify every\n\
copy and bring a grown file up to date by appending only its new tail.")
set(CPACK_STRIP_FILES ON)
include(CPack)
