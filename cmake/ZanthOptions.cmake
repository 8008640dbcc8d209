# Compiler settings shared by every target, and the helper that builds one of
# the three shared libraries with an export macro and a SONAME (symbols are
# hidden unless exported: the top-level CMakeLists.txt sets the visibility).

set(ZANTH_SANITIZER "" CACHE STRING "Sanitizer build: empty, 'asan' (address + undefined) or 'tsan'")
set_property(CACHE ZANTH_SANITIZER PROPERTY STRINGS "" asan tsan)

add_library(zanth_warnings INTERFACE)
target_compile_options(zanth_warnings INTERFACE
    -Wall -Wextra -Wno-missing-field-initializers
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)

if(ZANTH_SANITIZER STREQUAL "asan")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(ZANTH_SANITIZER STREQUAL "tsan")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT ZANTH_SANITIZER STREQUAL "")
    message(FATAL_ERROR "ZANTH_SANITIZER must be empty, asan or tsan")
endif()

# Fuzz builds instrument all code for coverage; the fuzz targets add the driver.
if(ZANTH_BUILD_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# zanth_add_shared_library(<target> OUTPUT <name> BUILD_DEFINE <define> SOURCES ...)
function(zanth_add_shared_library target)
    cmake_parse_arguments(ARG "" "OUTPUT;BUILD_DEFINE" "SOURCES" ${ARGN})
    add_library(${target} SHARED ${ARG_SOURCES})
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${ARG_OUTPUT}
        VERSION ${PROJECT_VERSION}
        SOVERSION ${PROJECT_VERSION_MAJOR})
    target_compile_definitions(${target} PRIVATE ${ARG_BUILD_DEFINE})
    target_compile_features(${target} PUBLIC cxx_std_20)
    target_link_libraries(${target} PRIVATE zanth_warnings)
    # The layers above the platform call its functions by their private aliases
    # (cmake/ZanthPlatformBinding.cmake).
    if(TARGET zanth_platform_binding)
        target_link_libraries(${target} PRIVATE zanth_platform_binding)
    endif()
    # clang links the sanitizer runtime into the executable only, so a sanitized
    # shared library has undefined runtime symbols until it is loaded.
    if(NOT (ZANTH_SANITIZER AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
        target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
endfunction()
