# Binding to the platform layer (docs/architecture.md, "Binding to the platform").
#
# exports.map lists the functions of libzanthplatform.so. From it:
#  - the library is linked with that version script (every function at version
#    ZANTH_PLATFORM_1, everything else local) and with -Bsymbolic-functions, so
#    that its calls to its own functions stay inside it;
#  - each function gets the alias zanth_platform_<name>;
#  - zanth_platform_binding.h renames the functions to those aliases in the code
#    of the other libraries (#pragma redefine_extname), which the target
#    zanth_platform_binding force-includes into every library but the platform's.
# A program that defines Sleep or ReadFile of its own thus replaces neither the
# platform's calls nor those of corewu and tools.
set(map ${PROJECT_SOURCE_DIR}/platform/exports.map)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${map})
file(STRINGS ${map} lines REGEX "^      [A-Za-z_][A-Za-z0-9_]*;$")

set(header ${PROJECT_BINARY_DIR}/generated/zanth_platform_binding.h)
set(pragmas "// Generated from platform/exports.map: the library code calls the platform's\n")
string(APPEND pragmas "// functions by their zanth_platform_ aliases.\n#pragma once\n")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "[ ;]" "" name "${line}")
    string(APPEND pragmas "#pragma redefine_extname ${name} zanth_platform_${name}\n")
    target_link_options(zanthplatform PRIVATE "LINKER:--defsym=zanth_platform_${name}=${name}")
endforeach()
file(CONFIGURE OUTPUT ${header} CONTENT "${pragmas}")

target_link_options(zanthplatform PRIVATE "LINKER:--version-script=${map}"
                    LINKER:-Bsymbolic-functions)
set_property(TARGET zanthplatform APPEND PROPERTY LINK_DEPENDS ${map})
# The compiler may then call (and inline) the library's own functions directly.
target_compile_options(zanthplatform PRIVATE -fno-semantic-interposition)

add_library(zanth_platform_binding INTERFACE)
target_compile_options(zanth_platform_binding INTERFACE "SHELL:-include ${header}")
