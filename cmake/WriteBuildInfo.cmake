# Writes the build information source: cmake -DOUTPUT=<file> -DSOURCE_DIR=<folder> -P WriteBuildInfo.cmake
#
# Run on every build and always rewritten, so the file recompiles and the compiler's __DATE__ and __TIME__
# are those of the build that made the binary, not of the last one that changed the commit.
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

file(WRITE "${OUTPUT}" "// Written by cmake/WriteBuildInfo.cmake on every build.
#include \"Utility/BuildInfo.h\"

const char* BuildInfo::Date()
{
    return __DATE__;
}

const char* BuildInfo::Time()
{
    return __TIME__;
}

const char* BuildInfo::CommitId()
{
    return \"${commit}\";
}
")
