# `make package` (cpack -G DEB in a build folder): the Debian package of Brisko.
# The binaries, resources, desktop file, icons, MIME type, metainfo, manual pages and
# bash completion are what `cmake --install` puts under the prefix; the package's
# dependencies come from dpkg-shlibdeps, plus the run-time plugins nothing links to.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# brisko-cli(1) from the program's own --help texts, at build time.
set(brisko_man_dir ${CMAKE_BINARY_DIR}/man)
add_custom_command(
  OUTPUT ${brisko_man_dir}/brisko-cli.1 ${brisko_man_dir}/brisko-cli.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${brisko_man_dir}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/docs/man/help2roff.py $<TARGET_FILE:brisko-cli>
          ${brisko_man_dir}/brisko-cli.1 ${brisko_man_dir}/brisko-cli.1.gz
  DEPENDS brisko-cli ${PROJECT_SOURCE_DIR}/docs/man/help2roff.py
  COMMENT "Writing the brisko-cli manual page from its --help"
  VERBATIM)
add_custom_command(
  OUTPUT ${brisko_man_dir}/brisko.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${brisko_man_dir}
  COMMAND Python3::Interpreter -c
          "import gzip,sys; d=open(sys.argv[1],'rb').read(); f=open(sys.argv[2],'wb'); g=gzip.GzipFile(filename='',mode='wb',fileobj=f,compresslevel=9,mtime=0); g.write(d); g.close(); f.close()"
          ${PROJECT_SOURCE_DIR}/docs/man/brisko.1 ${brisko_man_dir}/brisko.1.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/brisko.1
  VERBATIM)
add_custom_target(brisko-man ALL DEPENDS ${brisko_man_dir}/brisko-cli.1.gz ${brisko_man_dir}/brisko.1.gz)

configure_file(resources/desktop/brisko.metainfo.xml ${CMAKE_BINARY_DIR}/org.brisko.Brisko.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/org.brisko.Brisko.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${brisko_man_dir}/brisko-cli.1.gz ${brisko_man_dir}/brisko.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/completion/brisko-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES docs/package/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brisko)

# A native package's changelog, from the version (gzipped without a time stamp).
set(brisko_changelog ${CMAKE_BINARY_DIR}/package/changelog)
file(WRITE ${brisko_changelog}.in
"brisko (@PROJECT_VERSION@) unstable; urgency=medium

  * Release @PROJECT_VERSION@.

 -- Brisko developers <developers@brisko.example>  Mon, 07 Dec 2026 00:00:00 +0000
")
configure_file(${brisko_changelog}.in ${brisko_changelog} @ONLY)
add_custom_command(
  OUTPUT ${brisko_changelog}.gz
  COMMAND Python3::Interpreter -c
          "import gzip,sys; d=open(sys.argv[1],'rb').read(); f=open(sys.argv[2],'wb'); g=gzip.GzipFile(filename='',mode='wb',fileobj=f,compresslevel=9,mtime=0); g.write(d); g.close(); f.close()"
          ${brisko_changelog} ${brisko_changelog}.gz
  DEPENDS ${brisko_changelog}
  VERBATIM)
add_custom_target(brisko-changelog ALL DEPENDS ${brisko_changelog}.gz)
install(FILES ${brisko_changelog}.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brisko)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brisko)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brisko developers")
set(CPACK_PACKAGE_CONTACT "Brisko developers <developers@brisko.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "personalised e-mail campaigns through Amazon SES or SMTP")
set(CPACK_PACKAGE_DESCRIPTION
"Brisko sends one e-mail campaign, personalised for each recipient, to a list
of recipients imported from CSV or TSV files, through an Amazon SES account or
an SMTP server. Any column of the list can be used as a placeholder.
.
The package holds the window (brisko) and its command-line companion
(brisko-cli), which runs the same campaigns from a shell or a script.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://brisko.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, never linked: the window's platform plugin and its image formats, and
# the Secret Service client the keyring library opens when a desktop keyring runs; PNG files
# are recompressed when pngcrush is there.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, qt6-image-formats-plugins, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pngcrush")
include(CPack)
