# What `cmake --install` puts in place: the three deliverables and the
# platform layer they run on, the decoder core as a static library (its C
# API is what aacdec.h declares; the COM module exports only the COM entry
# points), the public headers, the tools, pkg-config files and the CMake
# package "Sonadec" with components decoder and pixkit.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SONADEC_INCLUDE_SUBDIR sonadec)
install(TARGETS sonadec vistarend pixkit platform
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS sonadec_core ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/decoder/aacdec.h ${PROJECT_SOURCE_DIR}/pixkit/pixkit.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${SONADEC_INCLUDE_SUBDIR})
install(TARGETS sonadec-cli sonadec-regsvr vistarend-play RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET sonadec_mp4_module)
  install(TARGETS sonadec_mp4_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

foreach(pc sonadec pixkit)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Sonadec)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/SonadecConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/cmake/SonadecConfig.cmake
                              INSTALL_DESTINATION ${config_dir}
                              PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/SonadecConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/SonadecConfig.cmake ${CMAKE_BINARY_DIR}/cmake/SonadecConfigVersion.cmake
        DESTINATION ${config_dir})
