# What a Linux installation holds besides the programs (man pages, shell
# completion, AppStream metainfo, drive access through udev and the sg
# module, the licence and changelog), and the Debian package made of it all
# by CPack: `./run package`.
include(GNUInstallDirs)

set(dist ${CMAKE_SOURCE_DIR}/dist/linux)
set(generated ${CMAKE_BINARY_DIR}/dist)

# The release date of this version, in the changelog and the metainfo.
execute_process(COMMAND date -u -R -d "${KELUFLASH_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE KELUFLASH_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)

# Three Debian packages, one per CMake install component:
#   cli     keluflash-cli: the command line, its man page and completion, and
#           the drive access (udev rule, sg at boot); no Qt.
#   window  keluflash: the Qt window and keluflash-demo, the desktop entries,
#           metainfo and icons; it depends on keluflash-cli of its version.
#   tools   keluflash-tools: keluflash-virtual-drive, a root-only rehearsal
#           gadget, apart so neither of the others carries it.
# Each program's own CMakeLists.txt installs it into its component.
set(keluflash_packages cli keluflash-cli window keluflash tools keluflash-tools)

# Man pages (gzip -9n: reproducible and as Debian wants them), each with the
# component it goes to.
set(man_pages keluflash-cli.1 cli)
if(TARGET keluflash)
  list(APPEND man_pages keluflash.1 window)
endif()
if(TARGET keluflash-demo)
  list(APPEND man_pages keluflash-demo.1 window)
endif()
if(TARGET keluflash-virtual-drive)
  list(APPEND man_pages keluflash-virtual-drive.8 tools)
endif()
set(compressed)
set(index 0)
list(LENGTH man_pages count)
while(index LESS count)
  list(GET man_pages ${index} page)
  math(EXPR index "${index} + 1")
  list(GET man_pages ${index} component)
  math(EXPR index "${index} + 1")
  configure_file(${dist}/man/${page}.in ${generated}/${page} @ONLY)
  list(APPEND compressed ${generated}/${page}.gz)
  string(REGEX REPLACE "^.*\\." "" section ${page})
  install(FILES ${generated}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endwhile()
configure_file(${dist}/changelog.in ${generated}/changelog @ONLY)
list(APPEND compressed ${generated}/changelog.gz)
# The JSON documents of keluflash-cli --json in full; its man page points here.
configure_file(${CMAKE_SOURCE_DIR}/docs/cli-json.md ${generated}/cli-json.md COPYONLY)
list(APPEND compressed ${generated}/cli-json.md.gz)
foreach(file ${compressed})
  string(REGEX REPLACE "\\.gz$" "" plain ${file})
  add_custom_command(OUTPUT ${file} COMMAND gzip -9n -c ${plain} > ${file} DEPENDS ${plain} VERBATIM)
endforeach()
add_custom_target(keluflash_linux_docs ALL DEPENDS ${compressed})
configure_file(${dist}/org.keluflash.keluflash.metainfo.xml ${generated}/org.keluflash.keluflash.metainfo.xml @ONLY)

install(FILES ${dist}/keluflash-cli.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME keluflash-cli COMPONENT cli)
# Each package's own documentation folder: keluflash's licence and the
# notices of the libraries compiled into the programs (tools/check_notices.sh
# keeps them complete), and the changelog.
set(index 0)
list(LENGTH keluflash_packages count)
while(index LESS count)
  list(GET keluflash_packages ${index} component)
  math(EXPR index "${index} + 1")
  list(GET keluflash_packages ${index} package)
  math(EXPR index "${index} + 1")
  install(FILES ${dist}/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
endwhile()
install(FILES ${generated}/cli-json.md.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/keluflash-cli COMPONENT cli)
if(TARGET keluflash)
  install(FILES ${generated}/org.keluflash.keluflash.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT window)
endif()
# udev and systemd-modules-load read lib/ under /usr and /usr/local alike.
install(FILES ${dist}/70-keluflash.rules DESTINATION lib/udev/rules.d COMPONENT cli)
install(FILES ${dist}/modules-load-sg.conf DESTINATION lib/modules-load.d RENAME keluflash.conf COMPONENT cli)

# The man pages stay in step with the programs' --help.
if(KELUFLASH_TESTS)
  add_test(NAME man_pages_test
           COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/man_pages_test.sh ${dist}/man
                   $<TARGET_FILE:keluflash-cli> $<$<TARGET_EXISTS:keluflash-demo>:$<TARGET_FILE:keluflash-demo>>
                   $<$<TARGET_EXISTS:keluflash>:$<TARGET_FILE:keluflash>>
                   $<$<TARGET_EXISTS:keluflash-virtual-drive>:$<TARGET_FILE:keluflash-virtual-drive>>)
  # The build folder: the test installs the cli component to find the
  # documents the page points to.
  set_tests_properties(man_pages_test PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KELUFLASH_BUILD_DIR=${CMAKE_BINARY_DIR}")
  # The completion in a real bash, against the same --help.
  add_test(NAME completion_test
           COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/completion_test.sh ${dist}/keluflash-cli.bash-completion
                   $<TARGET_FILE:keluflash-cli>)
endif()

# The Debian packages.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET keluflash)
  list(APPEND CPACK_COMPONENTS_ALL window)
endif()
if(TARGET keluflash-virtual-drive)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()
set(CPACK_PACKAGE_NAME keluflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# No public address exists for the project yet: the contact stays the
# placeholder, and the packages carry no Homepage field rather than an
# invented one.
set(CPACK_PACKAGE_CONTACT "keluflash maintainers <maintainers@users.noreply.c-seed-2943b5e2.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SOURCE keluflash)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Stripped as Debian strips: no symbols, no .comment and .note sections.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/debian_strip.cmake)
# The libraries come from dpkg-shlibdeps; keluflash's Depends on
# keluflash-cli (= VERSION) from the components' dependency.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(about "keluflash rewrites the firmware of a KELU CD/DVD drive from a .kfs image
file: it validates the image, checks that it is made for the drive,
downloads it, triggers the flash, waits for the drive and reads the flash
back to verify it. Every wrong image is refused before a byte is sent.")

# keluflash-cli_VERSION_ARCH.deb and so on.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME keluflash-cli)
# The first line is the summary; CPack indents the rest.
set(CPACK_DEBIAN_CLI_DESCRIPTION "firmware update for KELU CD/DVD drives, command line
${about}

This package holds keluflash-cli, for scripts, servers and support, with
its bash completion, and what gives the desktop user access to the drive: a
udev rule that lets the user at the seat open KELU drives' SCSI generic
nodes, and the sg module loaded at boot. The window is in the package
keluflash.")
# udev applies the rule, kmod loads sg; systemd-logind turns uaccess into access.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "udev, kmod")
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${dist}/postinst ${dist}/postrm)

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME keluflash)
set(CPACK_COMPONENT_WINDOW_DEPENDS cli)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION "firmware update for KELU CD/DVD drives, window
${about}

This package holds the desktop program keluflash and keluflash-demo, the
same window over simulated drives for trying the tool without a KELU
drive. The command line and the drive access are in keluflash-cli.")
# The Qt window needs a platform plugin, which no library names.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "qt6-qpa-plugins")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME keluflash-tools)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "simulated KELU drive on a virtual USB controller
keluflash-virtual-drive attaches a simulated KELU CD/DVD drive to the
running Linux kernel as a USB optical drive, through the kernel's virtual
USB controller dummy_hcd, so that keluflash and keluflash-cli can rehearse
an update through the kernel's own usb-storage, sr and sg drivers without a
real drive. It needs root and a kernel with dummy_hcd.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "keluflash-cli")
include(CPack)
