# pxl_build_date(<executable>)
#
# Gives the executable the date and time of its own link as BuildInfo::Date() and BuildInfo::Time(): a small
# source is compiled right before the linker runs, outside the build graph, and linked into that executable
# alone. A build that changes nothing the executable is made of links nothing, and the date stays that of the
# binary on disk; no library changes with the date, so nothing else is rebuilt or relinked for it. Every
# executable that links the windows (pxlui) needs it, since the About dialog shows the date.
set(PXL_BUILD_DATE_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../Utility/BuildDate.cpp)

function(pxl_build_date target)
    set(object ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.dir/BuildDate${CMAKE_CXX_OUTPUT_EXTENSION})
    # The flags that choose the target machine and ABI must match the rest of the executable's objects.
    separate_arguments(flags NATIVE_COMMAND "${CMAKE_CXX_FLAGS}")
    if(MSVC)
        set(compile ${CMAKE_CXX_COMPILER} ${flags} /nologo /c /I${PROJECT_SOURCE_DIR}
                    ${PXL_BUILD_DATE_SOURCE} /Fo${object})
    else()
        set(compile ${CMAKE_CXX_COMPILER} ${flags} ${CMAKE_CXX_COMPILE_OPTIONS_PIE} -I${PROJECT_SOURCE_DIR}
                    -c ${PXL_BUILD_DATE_SOURCE} -o ${object})
    endif()
    add_custom_command(TARGET ${target} PRE_LINK COMMAND ${compile} VERBATIM)
    # A link option rather than a source, so that the build does not wait for the object, nor rebuild it
    # unless the executable is linked anyway.
    target_link_options(${target} PRIVATE ${object})
    set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${object})
endfunction()
