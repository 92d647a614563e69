# Run by `cmake --install` (and so by `make install` and the package): installs
# the desktop entry with an Exec line that starts the program from the menu
# wherever it was installed. Under /usr the program is on every user's PATH and
# the entry names it plainly; under any other prefix (~/.local, /opt/...) the
# menu may not search there, so the entry names the installed file itself.
#
# Set before it runs: orbitale_desktop_source, orbitale_desktop_work (a file in
# the build tree to write the entry to), orbitale_bindir, orbitale_datadir.

set(prefix "${CMAKE_INSTALL_PREFIX}")
if(NOT IS_ABSOLUTE "${prefix}")
    get_filename_component(prefix "${prefix}" ABSOLUTE)
endif()
if(IS_ABSOLUTE "${orbitale_bindir}")
    set(program "${orbitale_bindir}/orbitale")
else()
    set(program "${prefix}/${orbitale_bindir}/orbitale")
endif()
cmake_path(NORMAL_PATH program)

if(program STREQUAL "/usr/bin/orbitale")
    set(exec "orbitale")
else()
    if(program MATCHES "\n")
        message(FATAL_ERROR "A desktop entry cannot start a program whose path holds a line break: ${program}")
    endif()
    # The Exec key's own rules: a path with a reserved character is quoted,
    # and inside the quotes ", `, $ and \ are escaped; % is doubled anyway.
    set(exec "${program}")
    string(REPLACE "%" "%%" exec "${exec}")
    if(exec MATCHES "[ \t\"'\\\\><~|&;$*?#()`]")
        string(REPLACE "\\" "\\\\" exec "${exec}")
        string(REPLACE "\"" "\\\"" exec "${exec}")
        string(REPLACE "`" "\\`" exec "${exec}")
        string(REPLACE "$" "\\$" exec "${exec}")
        set(exec "\"${exec}\"")
    endif()
    # Then the escapes of a desktop file's string values: a backslash is doubled.
    string(REPLACE "\\" "\\\\" exec "${exec}")
endif()

file(READ "${orbitale_desktop_source}" entry)
string(REGEX MATCH "\nExec=[^\n]*" exec_line "${entry}")
string(REPLACE "${exec_line}" "\nExec=${exec}" entry "${entry}")
get_filename_component(work_dir "${orbitale_desktop_work}" DIRECTORY)
file(MAKE_DIRECTORY "${work_dir}")
file(WRITE "${orbitale_desktop_work}" "${entry}")
file(INSTALL DESTINATION "${prefix}/${orbitale_datadir}/applications" TYPE FILE
     FILES "${orbitale_desktop_work}" RENAME orbitale.desktop)
