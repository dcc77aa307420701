# pxl_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
#
# One Qt Test executable per area. Each test runs in a working folder of its own, so tests can run
# in parallel without treading on each other's files. Label "threaded" marks the tests that CI also
# runs under ThreadSanitizer.
function(pxl_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    set(work ${CMAKE_BINARY_DIR}/testwork/${name})
    file(MAKE_DIRECTORY ${work})
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${work})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
        LABELS "${T_LABELS}")
endfunction()
