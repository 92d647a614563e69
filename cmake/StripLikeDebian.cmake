# Run by CPack on the staged package, before it is archived: strips every ELF
# file as Debian's own packages are stripped (dh_strip), debug information,
# symbol table and the compiler's .comment and .note sections alike.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
    if(IS_SYMLINK "${file}")
        continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
        execute_process(COMMAND "${CPACK_STRIP}" --remove-section=.comment --remove-section=.note
                                "${file}" COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
