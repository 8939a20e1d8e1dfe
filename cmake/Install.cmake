# The install and the Debian package.
#
# `cmake --install` lays out, under its prefix:
#   bin/korvane                  the program
#   share/man/man1/korvane.1     the manual page, and share/man/it/man1/korvane.1 in Italian
#   share/doc/korvane/           README.md and docs/*.md, as in the tree (the README's links hold)
#   user/                        the firm's users database goes here, user/user.fdb in the parent
#                                of the program's folder, where the program looks for it; it holds
#                                only LEGGIMI.txt, which says so
#   windows/korvane.exe          the Windows desktops' client, when the build made it (mingw-w64),
#   windows/korvane.ini.esempio  and an example of its settings: both are copied to the desktops
# (and korvane-server's files: src/server/CMakeLists.txt).
#
# The Debian package installs the program's files under /opt/korvane (the component
# "Unspecified"), and the files a package keeps in the system's own folders (the component
# "package_links", which a plain install into a prefix must not create): /usr/bin/korvane, the
# manual pages compressed in /usr/share/man, the documentation with its copyright and changelog in
# /usr/share/doc/korvane, the lintian overrides. The documentation and manual pages of a prefix
# (the component "docs") are left out of it.

set(KORVANE_PACKAGE_PREFIX /opt/korvane)
set(KORVANE_MAINTAINER "korvane maintainers <korvane@maintainers.example.org>"
    CACHE STRING "The package's maintainer, \"Name <address>\": the firm or person who builds and supports it")

install(TARGETS korvane RUNTIME DESTINATION bin)
install(FILES packaging/LEGGIMI.txt DESTINATION user)
if(TARGET korvane_exe)
  install(PROGRAMS ${KORVANE_EXE} DESTINATION windows)
  install(FILES src/winclient/korvane.ini.esempio DESTINATION windows)
endif()

# The manual pages, English and Italian, and the documentation.
set(man_pages ${CMAKE_BINARY_DIR}/man)
configure_file(docs/korvane.1.in ${man_pages}/man1/korvane.1 @ONLY)
configure_file(docs/korvane.it.1.in ${man_pages}/it/man1/korvane.1 @ONLY)
set(korvane_docs docs/amministratore.md docs/administrator.md docs/developer.md docs/protocol.md)
install(FILES ${man_pages}/man1/korvane.1 DESTINATION share/man/man1 COMPONENT docs)
install(FILES ${man_pages}/it/man1/korvane.1 DESTINATION share/man/it/man1 COMPONENT docs)
install(FILES README.md DESTINATION share/doc/korvane COMPONENT docs)
install(FILES ${korvane_docs} DESTINATION share/doc/korvane/docs COMPONENT docs)

# The package's own files. /usr/bin/korvane is a link: the program finds its users database from
# its own file, the link resolved, so the link uses /opt/korvane/user/user.fdb.
set(package_files ${CMAKE_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${package_files})
file(CREATE_LINK ${KORVANE_PACKAGE_PREFIX}/bin/korvane ${package_files}/korvane SYMBOLIC)
configure_file(packaging/copyright.in ${package_files}/copyright @ONLY)
configure_file(packaging/changelog.in ${package_files}/changelog @ONLY)
set(compressed ${package_files}/man1/korvane.1.gz ${package_files}/it/man1/korvane.1.gz ${package_files}/changelog.gz)
add_custom_command(
  OUTPUT ${compressed}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${package_files}/man1 ${package_files}/it/man1
  COMMAND gzip -9nc ${man_pages}/man1/korvane.1 > ${package_files}/man1/korvane.1.gz
  COMMAND gzip -9nc ${man_pages}/it/man1/korvane.1 > ${package_files}/it/man1/korvane.1.gz
  COMMAND gzip -9nc ${package_files}/changelog > ${package_files}/changelog.gz
  DEPENDS ${man_pages}/man1/korvane.1 ${man_pages}/it/man1/korvane.1 ${package_files}/changelog
  VERBATIM)
add_custom_target(korvane_package_files ALL DEPENDS ${compressed})
install(FILES ${package_files}/korvane DESTINATION /usr/bin COMPONENT package_links EXCLUDE_FROM_ALL)
install(FILES ${package_files}/man1/korvane.1.gz DESTINATION /usr/share/man/man1 COMPONENT package_links EXCLUDE_FROM_ALL)
install(FILES ${package_files}/it/man1/korvane.1.gz DESTINATION /usr/share/man/it/man1 COMPONENT package_links
        EXCLUDE_FROM_ALL)
install(FILES README.md ${package_files}/copyright ${package_files}/changelog.gz DESTINATION /usr/share/doc/korvane
        COMPONENT package_links EXCLUDE_FROM_ALL)
install(FILES ${korvane_docs} DESTINATION /usr/share/doc/korvane/docs COMPONENT package_links EXCLUDE_FROM_ALL)
install(FILES packaging/lintian-overrides DESTINATION /usr/share/lintian/overrides RENAME korvane
        COMPONENT package_links EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_CONTACT "${KORVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "creates customer or supplier records from the business registry")
# The extended description after the summary, in lines of at most 80 characters that CPack indents
# (an empty line separates paragraphs).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "korvane creates one customer or supplier record in a company's Firebird
archive database from what the Italian business registry returns for a VAT
number, and prints the new record's code. A management application, a script
or an operator starts it with the user, the company and the VAT number.

The package also carries korvane-server, the service through which the firm's
Windows desktops start imports, with its systemd unit (installed, not
enabled), and korvane.exe, the desktops' client, when the build made it.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${KORVANE_PACKAGE_PREFIX})
# The program's files under the prefix, then the package's own.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};korvane;Unspecified;/" "${CMAKE_BINARY_DIR};korvane;package_links;/")
# The debugging information goes into a package of its own (korvane-dbgsym, a .ddeb beside the
# .deb), split from the programs by CPack; before that, the compiler's .comment notes are taken out
# of the programs (packaging/StripNotes.cmake).
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/StripNotes.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The Firebird client library is loaded at run time, which the library scan cannot see: declared
# here. The scan adds OpenSSL and the C and C++ runtimes.
# adduser makes the service's user in the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfbclient2, adduser")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The embedded engine, for databases named by a plain path; a firm that reaches every database
# through a server does without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "firebird3.0-server-core")
# The maintainer scripts: the service's user and its folders made on configure, removed on purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
