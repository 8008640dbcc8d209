# Installs the three libraries with their header file sets, the CMake package ZanthTools
# (targets Zanth::tools, Zanth::corewu, Zanth::platform) and zanth-tools.pc.
include(CMakePackageConfigHelpers)

install(TARGETS zanthplatform corewu zanthtools
        EXPORT ZanthToolsTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT ZanthToolsTargets
        NAMESPACE Zanth::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZanthTools)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZanthToolsConfig.cmake.in
    ${PROJECT_BINARY_DIR}/ZanthToolsConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZanthTools)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZanthToolsConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZanthToolsConfig.cmake
              ${PROJECT_BINARY_DIR}/ZanthToolsConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZanthTools)

# The .pc file finds its prefix relative to itself, so the installed tree can move.
file(RELATIVE_PATH ZANTH_PC_RELATIVE_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zanth-tools.pc.in
               ${PROJECT_BINARY_DIR}/zanth-tools.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zanth-tools.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(ZANTH_BUILD_APPS)
    install(TARGETS ztools RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
