# Installs libBaseComms, its public headers, a CMake package and a pkg-config
# file, so that a host writes find_package(BaseComms) and links
# BaseComms::BaseComms (a plug-in: BaseComms::Headers), or asks pkg-config for
# basecomms; and the documentation and example configurations under share/.
include(CMakePackageConfigHelpers)

install(TARGETS BaseComms BaseCommsHeaders
  EXPORT BaseCommsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The public headers, staged under one root (cmake/StageHeaders.cmake): what
# these include, directly or not, and nothing else.
set(BASECOMMS_PUBLIC_HEADER_ROOTS
  BaseComms/BaseComms.h
  PluginKit/MessageServiceBase.h
  TARVO_SupportLib/PluginAbi.h
  TARVO_SupportLib/ClassLoaderCore.h
  TARVO_SupportLib/ConfigString.h
  Interfaces/ConfigTree.h
  Interfaces/ProtocolResponse.h
  Platform/CriticalSection.h)
set(BASECOMMS_STAGED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/staged-include)
add_custom_target(BaseCommsStagedHeaders ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}/DeviceComms
    -DGENERATED_DIR=${BASECOMMS_GENERATED_INCLUDE_DIR} -DOUTPUT_DIR=${BASECOMMS_STAGED_INCLUDE_DIR}
    "-DROOTS=${BASECOMMS_PUBLIC_HEADER_ROOTS}" -P ${PROJECT_SOURCE_DIR}/cmake/StageHeaders.cmake
  COMMENT "Staging the public headers"
  VERBATIM)
install(DIRECTORY ${BASECOMMS_STAGED_INCLUDE_DIR}/BaseComms DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})


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

# pkg-config: the prefix is found from the file's own place, so the package
# may be moved (as the packaging test's scratch prefix is).
file(RELATIVE_PATH BASECOMMS_PC_PREFIX_FROM_PCDIR
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/basecomms.pc.in ${PROJECT_BINARY_DIR}/basecomms.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/basecomms.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES README.md docs/CONFIGURATION.md docs/PLUGINS.md docs/TRACE.md docs/MODBUS.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES host/examples/SimulatedPlant.xml host/examples/ModbusPlant.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/BaseComms/examples)

# The packaging test (scripts/check-install): installs this tree into a
# scratch prefix and builds a host and the docs' plug-in against it.
if(BASECOMMS_BUILD_TESTS AND BASECOMMS_BUILD_HOST)
  add_test(NAME packaging COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check-install ${PROJECT_BINARY_DIR})
  set_tests_properties(packaging PROPERTIES TIMEOUT 300 ENVIRONMENT BASECOMMS_TRACE_SUFFIX=-bcpack)
endif()
# The library exports exactly the listed symbols (scripts/check-exports).
if(BASECOMMS_BUILD_TESTS)
  add_test(NAME exported-symbols COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check-exports $<TARGET_FILE:BaseComms>)
endif()
