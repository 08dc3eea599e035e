# Run by `cmake --install` and CPack (from install(CODE) in ../CMakeLists.txt, which sets
# entry_template and entry): writes the launcher entry with the absolute Exec= of the program
# installed beside it, and installs it. KWin compares that path with the running program's as
# /proc/PID/exe gives it, every link resolved: so is the prefix (~/.local where /home links to
# /var/home). Staged for a package (DESTDIR), the path is the target system's, kept as given.
set(exec "${CMAKE_INSTALL_PREFIX}/bin")
if("$ENV{DESTDIR}" STREQUAL "")
  file(MAKE_DIRECTORY "${exec}")
  file(REAL_PATH "${exec}" exec)
endif()
string(APPEND exec /clickburst)
if(exec MATCHES "[\"`$\\\n]")
  message(FATAL_ERROR "A desktop entry cannot name ${exec}: install to a prefix without "
                      "quotes, backquotes, dollar signs, backslashes or line breaks")
elseif(exec MATCHES "[ \t'<>~|&;*?#()]")
  set(exec "\"${exec}\"")  # quoted, the path is one argument
endif()
# One file a destination: installs into two prefixes at once (the tests do) must not share it.
string(MD5 destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
configure_file(${entry_template} ${entry}-${destination} @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     FILES ${entry}-${destination} RENAME clickburst.desktop)
