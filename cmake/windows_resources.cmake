# Windows resources of every program of the package: the icon made from
# logo.svg at build time, the manifest and the version information.
enable_language(RC)

set(H264_ICON ${CMAKE_BINARY_DIR}/h264player.ico)
add_custom_command(OUTPUT ${H264_ICON}
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-icon.sh ${PROJECT_SOURCE_DIR}/logo.svg ${H264_ICON}
  DEPENDS ${PROJECT_SOURCE_DIR}/logo.svg ${PROJECT_SOURCE_DIR}/scripts/make-icon.sh
  COMMENT "Drawing the programs' icon from logo.svg")
add_custom_target(h264_icon DEPENDS ${H264_ICON})

# h264_windows_resources(TARGET DESCRIPTION): compiles TARGET's resources into it.
function(h264_windows_resources target description)
  set(H264_PROGRAM ${target})
  set(H264_DESCRIPTION ${description})
  set(folder ${CMAKE_BINARY_DIR}/resources/${target})
  set(H264_MANIFEST ${folder}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest.in ${H264_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${folder}/${target}.rc @ONLY)
  set_source_files_properties(${folder}/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${H264_ICON};${H264_MANIFEST}")
  target_sources(${target} PRIVATE ${folder}/${target}.rc)
  add_dependencies(${target} h264_icon)
endfunction()
