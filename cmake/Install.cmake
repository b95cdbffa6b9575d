# Installs libBaseComms, its public headers and a CMake package, so that a host
# writes find_package(BaseComms) and links BaseComms::BaseComms.
include(CMakePackageConfigHelpers)

install(TARGETS BaseComms BaseCommsHeaders
  EXPORT BaseCommsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(dir BaseComms Config Interfaces Platform PluginKit TARVO_SupportLib Trace)
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

# The packaging test (scripts/check-install): installs this tree into a
# scratch prefix and builds a host and the docs' plug-in against it.
if(BASECOMMS_BUILD_TESTS AND BASECOMMS_BUILD_HOST)
  add_test(NAME packaging COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check-install ${PROJECT_BINARY_DIR})
  set_tests_properties(packaging PROPERTIES TIMEOUT 300 ENVIRONMENT BASECOMMS_TRACE_SUFFIX=-bcpack)
endif()
