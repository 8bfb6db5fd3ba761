# Part of `cmake --install`: writes the desktop entries with the launcher's
# installed path, then installs them (so install_manifest.txt lists them).
foreach(dir BINDIR DATADIR)
  if(IS_ABSOLUTE "${QUILLET_${dir}}")
    set(${dir} "${QUILLET_${dir}}")
  else()
    set(${dir} "${CMAKE_INSTALL_PREFIX}/${QUILLET_${dir}}")
  endif()
endforeach()
set(launcher "${BINDIR}/quillet-launch")

# How desktop entries quote an Exec argument: a path with anything but
# plain characters is quoted, with ", `, $ and \ escaped inside the quotes.
set(QUILLET_EXEC "${launcher}")
if(NOT QUILLET_EXEC MATCHES "^[A-Za-z0-9/._+-]+$")
  string(REPLACE "\\" "\\\\" QUILLET_EXEC "${QUILLET_EXEC}")
  string(REPLACE "\"" "\\\"" QUILLET_EXEC "${QUILLET_EXEC}")
  string(REPLACE "`" "\\`" QUILLET_EXEC "${QUILLET_EXEC}")
  string(REPLACE "$" "\\$" QUILLET_EXEC "${QUILLET_EXEC}")
  set(QUILLET_EXEC "\"${QUILLET_EXEC}\"")
endif()
string(REPLACE "%" "%%" QUILLET_EXEC "${QUILLET_EXEC}")
# Then both values are strings, whose backslashes are escaped once more.
string(REPLACE "\\" "\\\\" QUILLET_EXEC "${QUILLET_EXEC}")
string(REPLACE "\\" "\\\\" QUILLET_TRYEXEC "${launcher}")

set(out "${QUILLET_ENTRY_BINARY}/entries")
configure_file("${QUILLET_ENTRY_SOURCE}/quillet.desktop.in" "${out}/applications/quillet.desktop" @ONLY)
file(INSTALL "${out}/applications/quillet.desktop" DESTINATION "${DATADIR}/applications")
set(autostart "")
foreach(name IN LISTS QUILLET_AUTOSTART_ENTRIES)
  configure_file("${QUILLET_ENTRY_SOURCE}/autostart/${name}.desktop.in"
                 "${out}/autostart/${name}.desktop" @ONLY)
  list(APPEND autostart "${out}/autostart/${name}.desktop")
endforeach()
file(INSTALL ${autostart} DESTINATION "${DATADIR}/quillet/autostart")
