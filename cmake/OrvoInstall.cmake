# Install rules: the shared library, the public headers, a CMake package
# (find_package(OrvoAudio) gives OrvoAudio::orvoaudio) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS orvoaudio EXPORT OrvoAudioTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/orvoaudio DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ORVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrvoAudio)
install(EXPORT OrvoAudioTargets NAMESPACE OrvoAudio:: DESTINATION ${ORVO_CMAKE_DIR})
configure_package_config_file(cmake/OrvoAudioConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OrvoAudioConfig.cmake INSTALL_DESTINATION ${ORVO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OrvoAudioConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OrvoAudioConfig.cmake
  ${PROJECT_BINARY_DIR}/OrvoAudioConfigVersion.cmake DESTINATION ${ORVO_CMAKE_DIR})

configure_file(cmake/orvoaudio.pc.in ${PROJECT_BINARY_DIR}/orvoaudio.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvoaudio.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
