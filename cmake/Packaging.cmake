# Installation and packages: on Linux the program, the man pages in English and
# German and the documents, packed as a .deb; on Windows tovik.exe with the
# README and the license, packed as a .zip.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS tovik RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "tovik-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR}")
else()
  install(TARGETS tovik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Man pages are installed compressed, as Debian's policy asks; -n keeps the
  # archive free of the build's time stamp.
  find_program(GZIP_PROGRAM gzip REQUIRED)
  set(compressed)
  foreach(source docs/tovik.1 docs/tovik.de.1 cmake/changelog)
    get_filename_component(name ${source} NAME)
    set(target ${PROJECT_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${target}
                       COMMAND ${GZIP_PROGRAM} -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${target}
                       DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
    list(APPEND compressed ${target})
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})

  install(FILES ${PROJECT_BINARY_DIR}/tovik.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/tovik.de.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/de/man1
          RENAME tovik.1.gz)
  install(FILES README.md LICENSE cmake/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The tovik developers <tovik-dev@example.org>")
endif()

set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME tovik)
set(CPACK_PACKAGE_VENDOR "The tovik developers")
set(CPACK_PACKAGE_CONTACT "tovik-dev@example.org")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "run a command with its stderr and stdout appended to files")
set(CPACK_PACKAGE_DESCRIPTION
    "tovik runs one command line through the command interpreter and appends\n\
what the command writes to standard error to stderr.err and what it writes\n\
to standard output to stdout.err, in the current directory, each behind a\n\
header line holding the command line. The command writes into the files\n\
itself, so nothing is copied through a pipe. Repeated calls leave a running\n\
record of commands and their output, kept apart by stream.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
