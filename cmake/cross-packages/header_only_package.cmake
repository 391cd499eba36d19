# A header-only library of the build machine for a cross build: its folder of
# headers is linked into a folder of its own, so that the cross compiler sees
# these headers and nothing else of the build machine's /usr/include.
function(keluflash_header_only_package target folder)
  if(TARGET ${target})
    return()
  endif()
  set(include_dir ${CMAKE_BINARY_DIR}/cross-include)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: install the Debian package that holds it")
  endif()
  file(MAKE_DIRECTORY ${include_dir})
  if(NOT EXISTS ${include_dir}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${include_dir}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${include_dir})
endfunction()
