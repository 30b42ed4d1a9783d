# krv_install_manual_page(PAGE): installs a manual page of the current source
# folder, with the version and date of its heading (.TH) filled in from the
# changelog like everywhere else.
include(GNUInstallDirs)
function(krv_install_manual_page page)
    string(REGEX MATCH "[1-9]$" section ${page})
    configure_file(${page} ${CMAKE_CURRENT_BINARY_DIR}/${page} @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
