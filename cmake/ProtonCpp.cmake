# Qpid Proton's C++ client as the imported target PkgConfig::PROTON_CPP.
#
# Debian's libqpid-proton-cpp.pc requires libqpid-proton-core.pc and libqpid-proton-proactor.pc, which no
# Debian package ships, so pkg-config refuses it although the library and headers are installed. Then the
# library is found directly; it links the C core and proactor itself.
pkg_check_modules(PROTON_CPP QUIET IMPORTED_TARGET libqpid-proton-cpp)
if(NOT PROTON_CPP_FOUND)
    find_library(PXL_PROTON_CPP_LIBRARY NAMES qpid-proton-cpp)
    find_path(PXL_PROTON_CPP_INCLUDE NAMES proton/container.hpp)
    if(NOT PXL_PROTON_CPP_LIBRARY OR NOT PXL_PROTON_CPP_INCLUDE)
        message(FATAL_ERROR "Qpid Proton C++ not found: install libqpid-proton-cpp12-dev")
    endif()
    add_library(PkgConfig::PROTON_CPP INTERFACE IMPORTED)
    set_target_properties(PkgConfig::PROTON_CPP PROPERTIES
        INTERFACE_LINK_LIBRARIES "${PXL_PROTON_CPP_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${PXL_PROTON_CPP_INCLUDE}")
    message(STATUS "Qpid Proton C++: ${PXL_PROTON_CPP_LIBRARY} (without pkg-config)")
endif()
