# Installs libBaseComms, its public headers and a CMake package, so that a host
# writes find_package(BaseComms) and links BaseComms::BaseComms.
include(CMakePackageConfigHelpers)

install(TARGETS BaseComms BaseCommsHeaders
  EXPORT BaseCommsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(dir BaseComms Config Interfaces Platform TARVO_SupportLib Trace)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/DeviceComms/${dir}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/DeviceComms
    FILES_MATCHING PATTERN "*.h")
endforeach()

install(EXPORT BaseCommsTargets
  NAMESPACE BaseComms::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/BaseComms)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/BaseCommsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/BaseCommsConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/BaseComms)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/BaseCommsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/BaseCommsConfig.cmake ${PROJECT_BINARY_DIR}/BaseCommsConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/BaseComms)
