# Run at install time (install(SCRIPT)), when the prefix is known: fills the
# desktop integration templates with the installed program's path, quoted
# for each file's own syntax, so that a prefix with spaces or other special
# characters still starts the program. Expects SENDOVA_SHARE_TEMPLATES,
# SENDOVA_SHARE_GENERATED and SENDOVA_SHARE_BINDIR.
set(program "${CMAKE_INSTALL_PREFIX}/${SENDOVA_SHARE_BINDIR}/sendova-share")

# Desktop entry Exec: a double-quoted argument, inside which \ " ` $ take a
# backslash; % is a field code everywhere, so a literal one is doubled. The
# value as a whole is a string, whose own escaping then doubles every
# backslash.
string(REPLACE "\\" "\\\\" exec "${program}")
foreach(special "\"" "`" "$")
    string(REPLACE "${special}" "\\${special}" exec "${exec}")
endforeach()
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" SENDOVA_SHARE_EXEC "\"${exec}\"")

# Shell: one single-quoted word; a single quote ends it, is escaped, and
# starts it again.
string(REPLACE "'" "'\\''" shell "${program}")
set(SENDOVA_SHARE_SHELL_WORD "'${shell}'")

foreach(template sendova-share.desktop.in sendova-share-dolphin.desktop.in sendova-share-thunar.desktop.in
                 nautilus-script.in)
    string(REGEX REPLACE "\\.in$" "" name ${template})
    configure_file("${SENDOVA_SHARE_TEMPLATES}/${template}" "${SENDOVA_SHARE_GENERATED}/${name}" @ONLY)
endforeach()
