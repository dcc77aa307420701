# Writes the build's commit source: cmake -DOUTPUT=<file> -DSOURCE_DIR=<folder> -P WriteBuildInfo.cmake
#
# Run on every build, but the file is rewritten only when its text changes, so that a build on the same commit
# recompiles and relinks nothing for it. The build's date is not here: each executable that shows it gets the
# date of its own link (cmake/BuildDate.cmake).
set(commit "unknown")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
    execute_process(
        COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel --short HEAD
        OUTPUT_VARIABLE lines
        RESULT_VARIABLE result
        ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REPLACE "\n" ";" lines "${lines}")
    list(LENGTH lines count)
    if(result EQUAL 0 AND count EQUAL 2)
        list(GET lines 0 top)
        list(GET lines 1 hash)
        get_filename_component(top "${top}" REALPATH)
        get_filename_component(source "${SOURCE_DIR}" REALPATH)
        # A source folder unpacked inside some other repository must not take that repository's commit.
        if(top STREQUAL source AND hash MATCHES "^[0-9a-f]+$")
            set(commit "${hash}")
        endif()
    endif()
endif()

set(text "// Written by cmake/WriteBuildInfo.cmake when the commit changes.
#include \"Utility/BuildInfo.h\"

const char* BuildInfo::CommitId()
{
    return \"${commit}\";
}
")
set(previous "")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" previous)
endif()
if(NOT previous STREQUAL text)
    file(WRITE "${OUTPUT}" "${text}")
endif()
