# Installation and packages: on Linux the program, the man pages in English and
# German and the documents, packed as a .deb; the static musl build with the
# same files side by side, packed as a .tar.gz to copy anywhere; on Windows
# tovik.exe with the README, the license and the man pages as plain text,
# packed as a .zip. The packages are reproducible: see the end of this file.
include(GNUInstallDirs)

if(TOVIK_C_LIBRARY STREQUAL "musl")
  install(TARGETS tovik RUNTIME DESTINATION .)
  install(FILES README.md LICENSE docs/tovik.1 docs/tovik.de.1 DESTINATION .)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME "tovik-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
elseif(WIN32)
  install(TARGETS tovik RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)

  # The man pages rendered as plain text (UTF-8, CR LF) for readers on
  # Windows, who have no man.
  find_program(GROFF_PROGRAM groff REQUIRED)
  set(rendered)
  foreach(page tovik tovik.de)
    set(target ${PROJECT_BINARY_DIR}/${page}.txt)
    add_custom_command(
      OUTPUT ${target}
      COMMAND sh -c [[LC_ALL=C.UTF-8 "$0" -man -Tutf8 -P-cbou "$1" | cat -s | sed 's/$/\r/' >"$2"]]
              ${GROFF_PROGRAM} ${PROJECT_SOURCE_DIR}/docs/${page}.1 ${target}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}.1 VERBATIM)
    list(APPEND rendered ${target})
  endforeach()
  add_custom_target(rendered_docs ALL DEPENDS ${rendered})
  install(FILES ${rendered} DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
    set(windows_arch x86)
  else()
    set(windows_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()
  set(CPACK_PACKAGE_FILE_NAME "tovik-${PROJECT_VERSION}-windows-${windows_arch}")
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

# Reproducible packages: CPack stamps every file and header of an archive and
# a .deb with SOURCE_DATE_EPOCH when it is set. Unless the caller sets it,
# it is the time of the last commit, read when the package is made.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "\
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY [[${PROJECT_SOURCE_DIR}]]
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR NOT epoch)
    message(FATAL_ERROR \"no commit to take the packages' time stamps from: set SOURCE_DATE_EPOCH\")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} \${epoch})
endif()
")
include(CPack)
