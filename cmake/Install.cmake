# The installed station: what `cmake --install` and the Debian package (cmake/Package.cmake) lay out.
#
#   <prefix>/bin/                      Praxilo, praxilo-cli
#   <prefix>/<libdir>/praxilo/         the engine, the image checker and its hashing helper, the authentication
#                                      library: private to the package, found through the executables' run
#                                      path relative to themselves, so an unpacked package runs where it lies
#   /etc/praxilo/pxl_setting.ini       the installer's settings, the defaults of every user's own file
#   <prefix>/share/...                 desktop entry, icon, manual pages, copyright and changelog
#
# The station finds the authentication library by name at run time and Qt's loader does not search the run
# path, so the station itself knows the private folder: Utility/StationFolders gets it, and the installer's
# settings file, from the definitions below.

# The package installs under /usr, and the paths compiled into the station must be the package's.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(PXL_PACKAGE_NAME praxilo)
# Private to the package, nothing outside it links these: out of the loader's own search, so no ldconfig.
set(PXL_INSTALL_PRIVATE_DIR ${CMAKE_INSTALL_LIBDIR}/${PXL_PACKAGE_NAME})
set(PXL_INSTALL_SETTINGS_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/${PXL_PACKAGE_NAME})
file(RELATIVE_PATH _pxl_private_from_bin
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${PXL_INSTALL_PRIVATE_DIR})

target_compile_definitions(pxlbase PRIVATE
    PXL_INSTALLED_LIBRARY_FOLDER="${_pxl_private_from_bin}"
    PXL_INSTALLER_SETTINGS_FILE="${PXL_INSTALL_SETTINGS_DIR}/pxl_setting.ini")

set(_pxl_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(_pxl_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PXL_PACKAGE_NAME})
set(_pxl_generated ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_pxl_generated})

# Executables
set_target_properties(Praxilo praxilo-cli PROPERTIES INSTALL_RPATH "$ORIGIN/${_pxl_private_from_bin}")
install(TARGETS Praxilo praxilo-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The private folder: nothing in it needs a run path of its own. Shared objects are not executable (policy).
set_target_properties(quillon quillcheck quillcheck_hasher SLA_Challenge PROPERTIES INSTALL_RPATH "")
install(TARGETS quillon quillcheck SLA_Challenge
    LIBRARY DESTINATION ${PXL_INSTALL_PRIVATE_DIR}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The checker starts its helper from its own folder.
install(TARGETS quillcheck_hasher RUNTIME DESTINATION ${PXL_INSTALL_PRIVATE_DIR})

# The installer's settings: only comments, until an installer edits it.
install(FILES ${_pxl_packaging}/pxl_setting.ini DESTINATION ${PXL_INSTALL_SETTINGS_DIR})

# Desktop entry with the window's own icon
install(FILES ${_pxl_packaging}/praxilo.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/image/flash.png
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/64x64/apps RENAME ${PXL_PACKAGE_NAME}.png)

# Manual pages, the command line's from its own --help; the changelog. All compressed as Debian wants them:
# gzip -9 without a time stamp, so the same sources give the same package.
find_program(PXL_HELP2MAN help2man)
find_program(PXL_GZIP gzip REQUIRED)
set(_pxl_cli_page ${_pxl_generated}/praxilo-cli.1)
set(_pxl_window_page ${_pxl_generated}/Praxilo.1)
set(_pxl_changelog ${_pxl_generated}/changelog)
set(PXL_INSTALL_FULL_PRIVATE_DIR ${CMAKE_INSTALL_PREFIX}/${PXL_INSTALL_PRIVATE_DIR})
configure_file(${_pxl_packaging}/Praxilo.1 ${_pxl_window_page} @ONLY)
configure_file(${_pxl_packaging}/praxilo-cli.h2m ${_pxl_generated}/praxilo-cli.h2m @ONLY)
configure_file(${_pxl_packaging}/changelog ${_pxl_changelog} COPYONLY)
if(NOT PXL_HELP2MAN)
    message(STATUS "help2man not found: installing without the manual page of praxilo-cli")
endif()
install(CODE "
    if(EXISTS \"${PXL_HELP2MAN}\")
        execute_process(
            COMMAND \"${PXL_HELP2MAN}\" --no-info --no-discard-stderr
                    --name \"flash one firmware load to up to 16 devices, headless\"
                    --version-string \"${PROJECT_VERSION}\" --include \"${_pxl_generated}/praxilo-cli.h2m\"
                    --output \"${_pxl_cli_page}\"
                    \"$<TARGET_FILE:praxilo-cli>\"
            RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR \"help2man failed on praxilo-cli: \${result}\")
        endif()
    endif()
    foreach(page \"${_pxl_cli_page}\" \"${_pxl_window_page}\" \"${_pxl_changelog}\")
        if(EXISTS \"\${page}\")
            execute_process(COMMAND \"${PXL_GZIP}\" -9nkf \"\${page}\" RESULT_VARIABLE result)
            if(NOT result EQUAL 0)
                message(FATAL_ERROR \"gzip failed on \${page}\")
            endif()
        endif()
    endforeach()
")
install(FILES ${_pxl_window_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_pxl_cli_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
install(FILES ${_pxl_packaging}/copyright ${_pxl_changelog}.gz DESTINATION ${_pxl_doc_dir})
