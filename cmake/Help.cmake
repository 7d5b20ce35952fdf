# Compiles the manual in help/ into the runtime folder as Ombrix_Converter_Help.chm.
# chmcmd is run on a copy of the sources in the build tree, so nothing it writes can land in
# the source tree; the copy is refreshed whenever a source changes.
file(GLOB_RECURSE OMBRIX_HELP_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/help/*)
set(OMBRIX_HELP_STAGING ${CMAKE_CURRENT_BINARY_DIR}/help)
set(OMBRIX_HELP_FILE ${OMBRIX_RUNTIME_DIR}/Ombrix_Converter_Help.chm)

add_custom_command(OUTPUT ${OMBRIX_HELP_FILE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${OMBRIX_HELP_STAGING}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_SOURCE_DIR}/help ${OMBRIX_HELP_STAGING}
    COMMAND ${CMAKE_COMMAND} -E chdir ${OMBRIX_HELP_STAGING} ${CHMCMD} --no-html-scan Ombrix_Converter_Help.hhp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${OMBRIX_RUNTIME_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${OMBRIX_HELP_STAGING}/Ombrix_Converter_Help.chm ${OMBRIX_HELP_FILE}
    DEPENDS ${OMBRIX_HELP_SOURCES}
    COMMENT "Compiling the help file"
    VERBATIM)
add_custom_target(help-file ALL DEPENDS ${OMBRIX_HELP_FILE})
