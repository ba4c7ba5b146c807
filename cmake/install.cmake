# Installs the library, its headers (kept in their layer folders, so that
# includes read the same inside and outside the tree), a CMake package
# config for find_package(zu CONFIG) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS zu EXPORT zuTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zu)

install(EXPORT zuTargets NAMESPACE zu:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zu)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zuConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zuConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zu)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zuConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zuConfig.cmake ${PROJECT_BINARY_DIR}/zuConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zu)

# A static library's dependencies belong to every host's link, so pkg-config
# lists them as public requirements then; a shared one keeps them private.
string(STRIP "${ZU_PC_REQUIRES}" ZU_PC_REQUIRES)
if(BUILD_SHARED_LIBS)
  set(ZU_PC_REQUIRES_FIELD "Requires.private")
else()
  set(ZU_PC_REQUIRES_FIELD "Requires")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/zu.pc.in ${PROJECT_BINARY_DIR}/zu.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zu.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
