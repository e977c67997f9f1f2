# What an installation carries besides the programs, and the Debian package
# (`cpack -G DEB` in a build folder: duplora_VERSION_ARCH.deb).

# Man pages, written in scdoc's markup (docs/man/*.scd) and built with the
# project; gzip -n keeps them the same from build to build.
find_program(DUPLORA_SCDOC scdoc REQUIRED)
set(man_pages duplora-cli.1)
if(DUPLORA_BUILD_GUI)
    list(APPEND man_pages duplora.1)
endif()
set(man_outputs "")
foreach(page IN LISTS man_pages)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.scd)
    set(output ${PROJECT_BINARY_DIR}/man/${page})
    add_custom_command(
        OUTPUT ${output}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND sh -c "'${DUPLORA_SCDOC}' < '${source}' > '${output}' && gzip -9nf '${output}'"
        DEPENDS ${source}
        COMMENT "Man page ${page}"
        VERBATIM)
    list(APPEND man_outputs ${output}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES resources/completion/duplora-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/duplora)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME duplora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Duplora developers")
set(CPACK_PACKAGE_CONTACT "The Duplora developers <developers@duplora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep pairs of folders in step")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://duplora.org/)
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "keep pairs of folders in step\n"
    "Duplora keeps a list of named tasks; each pairs a host folder with a mirror\n"
    "folder and says what to do with every kind of difference between them.\n"
    "It shows the plan before it copies or deletes anything, can move deleted\n"
    "files to the trash or a versioning folder, reaches Windows and Samba shares\n"
    "and runs tasks on a schedule.\n"
    "\n"
    "The package holds the desktop program, duplora, and the console program,\n"
    "duplora-cli, with a systemd user unit that runs the schedules.")
# Depends comes from the programs' libraries (dpkg-shlibdeps). The shares
# need the GVfs backends and their FUSE bridge, the schedules' user service
# and the share mounts a D-Bus session, the toolkit's texts its translations.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "gvfs-backends, gvfs-fuse, dbus-user-session, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
