# `make install` and `make package`: the program in bin, the launch service stand-in in a folder
# of its own, the manual page and the bash completion; the Debian package is the same tree.
include(GNUInstallDirs)

# Folders an install creates are 0755 whatever the umask of whoever builds, installs or packages
# (002 is common for people, 000 is seen): a folder others could write to would let them put
# their own program where ours is, and the program refuses a launch service stand-in below such a
# folder. Files get their modes from install() itself: 0644, and 0755 for the program.
set(NIMBRA_FOLDER_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${NIMBRA_FOLDER_PERMISSIONS})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${NIMBRA_FOLDER_PERMISSIONS})

# The program finds its stand-in relative to itself, so an installed tree works wherever it is
# unpacked (a DESTDIR, `dpkg -x`); that needs both folders inside the prefix.
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBEXECDIR}")
  message(FATAL_ERROR "CMAKE_INSTALL_BINDIR and CMAKE_INSTALL_LIBEXECDIR must be relative to the prefix")
endif()
# Not in bin: a `launchctl` there would be first on people's PATH, claiming the name of another
# system's tool for a program that only speaks the three forms the service sends.
set(NIMBRA_STAND_IN_DIR "${CMAKE_INSTALL_LIBEXECDIR}/nimbra")
file(RELATIVE_PATH NIMBRA_STAND_IN_FROM_BINDIR "/p/${CMAKE_INSTALL_BINDIR}" "/p/${NIMBRA_STAND_IN_DIR}")
file(RELATIVE_PATH NIMBRA_STAND_IN_TARGET "/p/${NIMBRA_STAND_IN_DIR}" "/p/${CMAKE_INSTALL_BINDIR}/nimbra")
target_compile_definitions(nimbra_platform PRIVATE NIMBRA_STAND_IN_FROM_BINDIR="${NIMBRA_STAND_IN_FROM_BINDIR}")

configure_file(${CMAKE_CURRENT_LIST_DIR}/nimbra.1.in ${CMAKE_BINARY_DIR}/nimbra.1 @ONLY)
# Compressed as Debian wants manual pages, without a time stamp so that the package is reproducible.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/nimbra.1.gz
  COMMAND gzip -9 -n -k -f ${CMAKE_BINARY_DIR}/nimbra.1
  DEPENDS ${CMAKE_BINARY_DIR}/nimbra.1 VERBATIM)
add_custom_target(manual_page ALL DEPENDS ${CMAKE_BINARY_DIR}/nimbra.1.gz)

install(TARGETS nimbra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The stand-in is a link made in the build tree and installed as the link it is.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/stand-in)
file(CREATE_LINK ${NIMBRA_STAND_IN_TARGET} ${CMAKE_BINARY_DIR}/stand-in/launchctl SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/stand-in/launchctl DESTINATION ${NIMBRA_STAND_IN_DIR})
install(FILES ${CMAKE_BINARY_DIR}/nimbra.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)


install(FILES ${CMAKE_CURRENT_LIST_DIR}/nimbra.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME nimbra)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nimbra)
set(CPACK_PACKAGE_VENDOR Nimbra)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "see where disk space goes and clean it up")
# Below the summary line; CPack indents it as a control file wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The native service of the Nimbra disk and system cleaner, with commands
for people: the disk usage tree of a folder, large and duplicate files, junk
by category and its removal (to the Trash or for good), sizes, the machine,
its memory, startup items and installed applications.")
set(NIMBRA_PACKAGE_MAINTAINER "Nimbra developers <nimbra@example.org>" CACHE STRING
  "The Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NIMBRA_PACKAGE_MAINTAINER}")

# The package's own documentation, as Debian wants it: the licences of everything in the
# program (the page's libraries are built in) and the changelog, compressed without a time stamp.
function(nimbra_debian_licence file out)
  file(READ ${file} text)
  string(STRIP "${text}" text)
  # A licence text in the copyright format: each line indented by a space, an empty one as " .".
  string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
  string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text " ${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
nimbra_debian_licence(${CMAKE_SOURCE_DIR}/web/vendor/lit-html.LICENSE.txt LIT_HTML_LICENSE)
nimbra_debian_licence(${CMAKE_SOURCE_DIR}/web/vendor/d3-hierarchy.LICENSE.txt D3_HIERARCHY_LICENSE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${CMAKE_BINARY_DIR}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND gzip -9 -n -k -f ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/changelog VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/nimbra)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' packages and versions as this machine's dpkg knows them (libssl3 or libssl3t64,
# libicu72 or a later one), so the package states what the program was really linked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Programs the service starts when it is there: ps for the memory figures' processes, the
# desktop's opener, folder picker and password prompt, systemd for the startup items.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "procps")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd, pkexec, xdg-utils, zenity | kdialog")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)
