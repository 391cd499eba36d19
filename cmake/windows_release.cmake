# keluflash-VERSION-win32.zip, the download for Windows users: both programs
# stripped (they are linked statically: no DLL beside them), README.txt, the
# licence and the notices of the libraries linked in, with Windows line ends. `./run windows-release` builds it.
set(release_name keluflash-${PROJECT_VERSION}-win32)
set(release_dir ${CMAKE_BINARY_DIR}/release)
set(stage ${release_dir}/${release_name})
configure_file(${CMAKE_SOURCE_DIR}/dist/windows/README.txt.in ${release_dir}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${release_dir}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/dist/windows/THIRD-PARTY.txt.in ${release_dir}/THIRD-PARTY.txt @ONLY NEWLINE_STYLE CRLF)
add_custom_target(windows_release
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${CMAKE_BINARY_DIR}/${release_name}.zip
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
  COMMAND ${CMAKE_STRIP} -o ${stage}/keluflash.exe $<TARGET_FILE:keluflash>
  COMMAND ${CMAKE_STRIP} -o ${stage}/keluflash-cli.exe $<TARGET_FILE:keluflash-cli>
  COMMAND ${CMAKE_COMMAND} -E copy ${release_dir}/README.txt ${release_dir}/LICENSE.txt ${release_dir}/THIRD-PARTY.txt
          ${stage}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${release_name}.zip --format=zip ${release_name}
  WORKING_DIRECTORY ${release_dir}
  DEPENDS keluflash keluflash-cli
  COMMENT "${release_name}.zip"
  VERBATIM)
