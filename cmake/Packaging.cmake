# The Debian package's CPack configuration, written beside the build tree's own files rather than
# through include(CPack): that would reserve the target name "package", which the package
# library already has.
configure_file(${PROJECT_SOURCE_DIR}/packaging/CPackConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/CPackConfig.cmake @ONLY)
