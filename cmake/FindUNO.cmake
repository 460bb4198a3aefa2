# Finds LibreOffice's UNO development kit (Debian's libreoffice-dev) and the
# office's type libraries, from which the office API headers are generated at
# build time. Defines UNO_FOUND and, when found, the target UNO::UNO whose
# users get the generated headers, the compile flags and the libraries.
#
#   find_package(UNO)            # optional: nothing is required of the machine
set(UNO_PROGRAM_DIR "/usr/lib/libreoffice/program" CACHE PATH "LibreOffice's program folder")
set(UNO_SDK_DIR "/usr/lib/libreoffice/sdk" CACHE PATH "LibreOffice's SDK folder")

find_program(UNO_CPPUMAKER cppumaker HINTS ${UNO_SDK_DIR}/bin NO_DEFAULT_PATH)
find_path(UNO_INCLUDE_DIR sal/config.h HINTS /usr/include/libreoffice)
find_library(UNO_CPPU uno_cppu HINTS ${UNO_SDK_DIR}/lib NO_DEFAULT_PATH)
find_library(UNO_CPPUHELPER uno_cppuhelpergcc3 HINTS ${UNO_SDK_DIR}/lib NO_DEFAULT_PATH)
find_library(UNO_SAL uno_sal HINTS ${UNO_SDK_DIR}/lib NO_DEFAULT_PATH)
find_file(UNO_TYPES_RDB types.rdb HINTS ${UNO_PROGRAM_DIR} NO_DEFAULT_PATH)
find_file(UNO_OFFAPI_RDB offapi.rdb HINTS ${UNO_PROGRAM_DIR}/types NO_DEFAULT_PATH)
find_program(UNO_SOFFICE soffice HINTS ${UNO_PROGRAM_DIR} NO_DEFAULT_PATH)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(UNO REQUIRED_VARS UNO_CPPUMAKER UNO_INCLUDE_DIR UNO_CPPU
    UNO_CPPUHELPER UNO_SAL UNO_TYPES_RDB UNO_OFFAPI_RDB UNO_SOFFICE)

if(UNO_FOUND AND NOT TARGET UNO::UNO)
    # cppumaker wants an absolute output folder.
    set(_out ${CMAKE_BINARY_DIR}/uno_headers)
    file(MAKE_DIRECTORY ${_out})
    add_custom_command(
        OUTPUT ${_out}/stamp
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_out}
        COMMAND ${UNO_CPPUMAKER} -Gc -O${_out} ${UNO_TYPES_RDB} ${UNO_OFFAPI_RDB}
        COMMAND ${CMAKE_COMMAND} -E touch ${_out}/stamp
        DEPENDS ${UNO_TYPES_RDB} ${UNO_OFFAPI_RDB}
        COMMENT "Generating the office API headers")
    add_custom_target(uno_headers DEPENDS ${_out}/stamp)
    add_library(UNO::UNO INTERFACE IMPORTED)
    # SYSTEM: the kit's headers are not ours to keep free of warnings.
    target_include_directories(UNO::UNO SYSTEM INTERFACE ${UNO_INCLUDE_DIR} ${_out})
    target_compile_definitions(UNO::UNO INTERFACE UNX GCC LINUX CPPU_ENV=gcc3
        VDR_SOFFICE="${UNO_SOFFICE}" VDR_UNO_PROGRAM_DIR="${UNO_PROGRAM_DIR}")
    target_link_libraries(UNO::UNO INTERFACE ${UNO_CPPUHELPER} ${UNO_CPPU} ${UNO_SAL}
        "-Wl,-rpath-link,${UNO_PROGRAM_DIR}" "-Wl,-rpath,${UNO_PROGRAM_DIR}")
endif()
