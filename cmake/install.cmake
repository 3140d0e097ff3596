# What a Linux installation holds: the program and its sound module, the menu entry and the
# icon theme's icons, the AppStream metadata, the manual page, the autostart entry (a template
# the user copies to ~/.config/autostart) and the user service, and the licence. Two parts,
# which the Debian package makes two packages of: the program with everything else, and the
# sound module, which alone needs the multimedia libraries.

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME program)
install(TARGETS quorvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Loaded, never run: not executable.
install(TARGETS quorvane_sound LIBRARY DESTINATION ${QV_MODULE_DIR} COMPONENT sound
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(qv_linux ${PROJECT_SOURCE_DIR}/res/linux)
install(FILES ${qv_linux}/quorvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${qv_linux}/io.github.harrowbecks.quorvane.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${qv_linux}/quorvane-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane/autostart RENAME quorvane.desktop)
# The user service goes where the user's service manager looks under the prefix it is
# installed into, which --prefix may change at install time: the distribution's
# lib/systemd/user under /usr, share/systemd/user elsewhere (the only one searched under
# ~/.local; /usr/local has both). It names the installed program in full, as systemd looks
# for none in ~/.local/bin.
install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(qv_unit_dir \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
    else()
        set(qv_unit_dir \"\${CMAKE_INSTALL_PREFIX}/share/systemd/user\")
    endif()
    file(READ \"${qv_linux}/quorvane.service\" qv_unit)
    string(REPLACE \"ExecStart=quorvane\" \"ExecStart=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quorvane\"
           qv_unit \"\${qv_unit}\")
    file(WRITE \"${CMAKE_BINARY_DIR}/unit/quorvane.service\" \"\${qv_unit}\")
    file(INSTALL DESTINATION \"\${qv_unit_dir}\" TYPE FILE
         FILES \"${CMAKE_BINARY_DIR}/unit/quorvane.service\")
")

foreach(size 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/${size}/apps/quorvane.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/scalable/apps/quorvane.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Compressed without a timestamp, so a rebuild gives the same bytes.
foreach(doc quorvane.1 changelog)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${doc}.gz
                       COMMAND gzip -9nc ${qv_linux}/${doc} > ${CMAKE_BINARY_DIR}/${doc}.gz
                       DEPENDS ${qv_linux}/${doc} VERBATIM)
endforeach()
add_custom_target(qv_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/quorvane.1.gz
                                      ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/quorvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${qv_linux}/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvane)
# The sound's package carries its own copy; an installation from source needs no second one.
install(FILES ${qv_linux}/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvane-sound COMPONENT sound EXCLUDE_FROM_ALL)
