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

# Man pages (gzip -9n: reproducible and as Debian wants them) and the changelog.
set(man_pages keluflash-cli.1)
if(TARGET keluflash)
  list(APPEND man_pages keluflash.1)
endif()
if(TARGET keluflash-demo)
  list(APPEND man_pages keluflash-demo.1)
endif()
set(compressed)
foreach(page ${man_pages})
  configure_file(${dist}/man/${page}.in ${generated}/${page} @ONLY)
  list(APPEND compressed ${generated}/${page}.gz)
endforeach()
configure_file(${dist}/changelog.in ${generated}/changelog @ONLY)
list(APPEND compressed ${generated}/changelog.gz)
foreach(file ${compressed})
  string(REGEX REPLACE "\\.gz$" "" plain ${file})
  add_custom_command(OUTPUT ${file} COMMAND gzip -9n -c ${plain} > ${file} DEPENDS ${plain} VERBATIM)
endforeach()
add_custom_target(keluflash_linux_docs ALL DEPENDS ${compressed})
configure_file(${dist}/org.keluflash.keluflash.metainfo.xml ${generated}/org.keluflash.keluflash.metainfo.xml @ONLY)

foreach(page ${man_pages})
  install(FILES ${generated}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${dist}/keluflash-cli.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME keluflash-cli)
# keluflash's licence and the notices of the libraries compiled into the
# programs; tools/check_notices.sh keeps it complete.
install(FILES ${dist}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TARGET keluflash)
  install(FILES ${generated}/org.keluflash.keluflash.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
# udev and systemd-modules-load read lib/ under /usr and /usr/local alike.
install(FILES ${dist}/70-keluflash.rules DESTINATION lib/udev/rules.d)
install(FILES ${dist}/modules-load-sg.conf DESTINATION lib/modules-load.d RENAME keluflash.conf)

# The man pages stay in step with the programs' --help.
if(KELUFLASH_TESTS)
  add_test(NAME man_pages_test
           COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/man_pages_test.sh ${dist}/man
                   $<TARGET_FILE:keluflash-cli> $<$<TARGET_EXISTS:keluflash-demo>:$<TARGET_FILE:keluflash-demo>>
                   $<$<TARGET_EXISTS:keluflash>:$<TARGET_FILE:keluflash>>)
  set_tests_properties(man_pages_test PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  # The completion in a real bash, against the same --help.
  add_test(NAME completion_test
           COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/completion_test.sh ${dist}/keluflash-cli.bash-completion
                   $<TARGET_FILE:keluflash-cli>)
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME keluflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "keluflash maintainers <maintainers@users.noreply.c-seed-2943b5e2.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update for KELU CD/DVD drives")
# The long description; CPack puts the summary before it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "keluflash rewrites the firmware of a KELU CD/DVD drive from a .kfs image
file: it validates the image, checks that it is made for the drive,
downloads it, triggers the flash, waits for the drive and reads the flash
back to verify it. Every wrong image is refused before a byte is sent.

The package holds the desktop program keluflash, keluflash-cli for scripts
and servers, and keluflash-demo, the window over simulated drives. A udev
rule gives the user at the seat access to KELU drives' SCSI generic nodes,
and the sg module is loaded at boot.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the Qt window needs a platform plugin.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET keluflash)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
# udev applies the rule, kmod loads sg; systemd-logind turns uaccess into access.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, kmod")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${dist}/postinst ${dist}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
