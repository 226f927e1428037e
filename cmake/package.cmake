# How Zarumatekit installs (cmake --install) and how it becomes a Debian
# package (cpack -G DEB in the build folder). The package's own files live in
# packaging/; scripts/test-package builds the package and checks it.

include(GNUInstallDirs)

set(zk_packaging_dir ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(zk_packaging_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
# The desktop entry and the AppStream component share one id, the maker's
# domain reversed, as AppStream asks; the icon and the programs keep the
# plain name.
set(ZK_APP_ID "example.brindlewerk.zarumatekit")
# Debian revision of the package; a new package of the same program version
# raises it.
set(ZK_DEBIAN_RELEASE 1)
set(ZK_ICON_SIZES 16 22 24 32 48 64 128 256)

# The changelog's latest entry names the version the package is made with;
# a changelog that was not brought up to date would describe another package.
file(STRINGS ${zk_packaging_dir}/changelog zk_changelog_head LIMIT_COUNT 1)
set(zk_package_version "${PROJECT_VERSION}-${ZK_DEBIAN_RELEASE}")
if(NOT zk_changelog_head MATCHES "^zarumatekit \\(${zk_package_version}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with \"${zk_changelog_head}\"; "
                      "its latest entry must be for version ${zk_package_version}")
endif()

# Debian wants the changelog and the manual pages compressed with gzip -9n (no
# name or time stamp in the header, so that equal input makes equal files).
find_program(ZK_GZIP gzip REQUIRED)
file(MAKE_DIRECTORY ${zk_packaging_out})
set(zk_gzipped)
foreach(pair "changelog;changelog.Debian.gz" "zarumatekit.1;zarumatekit.1.gz"
             "zarumatekit-probe.1;zarumatekit-probe.1.gz"
             "zarumatekit-capture.1;zarumatekit-capture.1.gz")
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(
    OUTPUT ${zk_packaging_out}/${target}
    COMMAND ${ZK_GZIP} -9nc ${zk_packaging_dir}/${source} > ${zk_packaging_out}/${target}
    DEPENDS ${zk_packaging_dir}/${source}
    COMMENT "Compressing packaging/${source}")
  list(APPEND zk_gzipped ${zk_packaging_out}/${target})
endforeach()
add_custom_target(zk_packaging_files ALL DEPENDS ${zk_gzipped})
add_dependencies(zarumatekit zk_packaging_files)

configure_file(${zk_packaging_dir}/${ZK_APP_ID}.metainfo.xml.in
               ${zk_packaging_out}/${ZK_APP_ID}.metainfo.xml @ONLY)

# The capture helper holds a capability, and the programs read what comes
# from the network: they resolve every symbol at start, so that the
# relocation tables are read-only before any input arrives (full RELRO).
foreach(program zarumatekit zarumatekit-probe zarumatekit-capture)
  target_link_options(${program} PRIVATE LINKER:-z,relro LINKER:-z,now)
endforeach()

install(TARGETS zarumatekit zarumatekit-probe zarumatekit-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${zk_packaging_dir}/${ZK_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${zk_packaging_out}/${ZK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
foreach(size IN LISTS ZK_ICON_SIZES)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/src/res/icons/zarumatekit-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
          RENAME zarumatekit.png)
endforeach()
install(FILES ${zk_packaging_out}/zarumatekit.1.gz ${zk_packaging_out}/zarumatekit-probe.1.gz
              ${zk_packaging_out}/zarumatekit-capture.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${zk_packaging_dir}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME zarumatekit)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${zk_packaging_dir}/copyright
              ${zk_packaging_out}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zarumatekit)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zarumatekit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brindlewerk")
set(CPACK_PACKAGE_CONTACT "Zarumatekit Developers <zarumatekit@brindlewerk.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps the people whose microblog pages you saw as friends")
set(CPACK_PACKAGE_DESCRIPTION
    "Zarumatekit is a desktop companion for players of Zaru. While you browse, it
watches this computer's own IPv4 traffic on one network adapter, recognises
pages of the Nimbo portal's microblog and keeps every person whose page you
saw as a friend, with their avatar, in a small always-on-top window.

Capturing needs the capability CAP_NET_RAW. The package gives it only to
the small capture helper zarumatekit-capture, as a permitted file
capability, and lets only members of the group zarumatekit run the helper.
The program and its command-line probe hold no capability: they read what
the helper writes.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZK_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZK_MAKER_HOME})
# The libraries come from dpkg-shlibdeps. The rest: the maintainer scripts
# make the group with addgroup and grant the capability with setcap; the
# program opens pages in the browser through xdg-open, draws its Japanese
# text with the IPA fonts and the emoji of names with the colour emoji font,
# and shows the toolkit's standard dialogs in Japanese from Qt's own
# translations; Qt's X11 platform plugin, without which no window opens, is
# only recommended by Qt's own packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "adduser, libcap2-bin, xdg-utils, fonts-ipafont-gothic, fonts-ipafont-mincho, qt6-qpa-plugins, fonts-noto-color-emoji, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${zk_packaging_dir}/postinst ${zk_packaging_dir}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
