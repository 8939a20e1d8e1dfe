# The install and the Debian package.
#
# `cmake --install` lays out, under its prefix:
#   bin/korvane                  the program
#   share/man/man1/korvane.1     the manual page
#   share/doc/korvane/           README.md and docs/*.md, as in the tree (the README's links hold)
#   user/                        empty: the firm's users database goes here, user/user.fdb in the
#                                parent of the program's folder, where the program looks for it
#   windows/korvane.exe          the Windows desktops' client, when the build made it (mingw-w64),
#   windows/korvane.ini.esempio  and an example of its settings: both are copied to the desktops
# The Debian package installs the same under /opt/korvane and adds the links from the system's
# own folders, which a package may own and a plain install into a prefix must not create.

set(KORVANE_PACKAGE_PREFIX /opt/korvane)

install(TARGETS korvane RUNTIME DESTINATION bin)
configure_file(docs/korvane.1.in ${CMAKE_BINARY_DIR}/korvane.1 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/korvane.1 DESTINATION share/man/man1)
install(FILES README.md DESTINATION share/doc/korvane)
install(FILES docs/amministratore.md docs/administrator.md docs/developer.md DESTINATION share/doc/korvane/docs)
install(DIRECTORY DESTINATION user)
if(TARGET korvane_exe)
  install(PROGRAMS ${KORVANE_EXE} DESTINATION windows)
  install(FILES src/winclient/korvane.ini.esempio DESTINATION windows)
endif()

# /usr/bin/korvane and the manual page's link, in a component of their own that only the package
# installs. The program finds its users database from its own file, the link resolved, so the link
# uses /opt/korvane/user/user.fdb.
set(package_links ${CMAKE_BINARY_DIR}/package-links)
file(MAKE_DIRECTORY ${package_links})
file(CREATE_LINK ${KORVANE_PACKAGE_PREFIX}/bin/korvane ${package_links}/korvane SYMBOLIC)
file(CREATE_LINK ${KORVANE_PACKAGE_PREFIX}/share/man/man1/korvane.1 ${package_links}/korvane.1 SYMBOLIC)
install(FILES ${package_links}/korvane DESTINATION /usr/bin COMPONENT package_links EXCLUDE_FROM_ALL)
install(FILES ${package_links}/korvane.1 DESTINATION /usr/share/man/man1 COMPONENT package_links EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_CONTACT "korvane maintainers <korvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "creates a customer or supplier record from the business registry's data")
set(CPACK_PACKAGE_DESCRIPTION "korvane creates one customer or supplier record in a company's Firebird archive \
database from what the Italian business registry returns for a VAT number, and prints its code.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${KORVANE_PACKAGE_PREFIX})
# Everything the default install lays out, then the links.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};korvane;ALL;/" "${CMAKE_BINARY_DIR};korvane;package_links;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The Firebird client library is loaded at run time, which the library scan cannot see: declared
# here, with OpenSSL. The scan adds the C and C++ runtimes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfbclient2, libssl3")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The embedded engine, for databases named by a plain path; a firm that reaches every database
# through a server does without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "firebird3.0-server-core")
include(CPack)
