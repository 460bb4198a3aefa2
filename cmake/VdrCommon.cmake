# Compiler settings shared by every target of the project.
add_library(vdr_options INTERFACE)
target_compile_options(vdr_options INTERFACE -Wall -Wextra -Wpedantic)
if(VDR_WERROR)
    target_compile_options(vdr_options INTERFACE -Werror)
endif()
if(VDR_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
if(VDR_FUZZ)
    add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# vdr_library(NAME [QT] DEPS ...): a static library made of every source of the
# current folder, so that adding a file never means editing a shared list.
function(vdr_library name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${name} STATIC ${_srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC vdr_options ${ARG_DEPS})
endfunction()
