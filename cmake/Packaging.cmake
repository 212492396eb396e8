# The desktop's view of the program (launcher, icons, metadata, the disk tool's polkit policy),
# and the Debian package's CPack configuration.
set(packaging ${PROJECT_SOURCE_DIR}/packaging)

install(FILES ${packaging}/org.vornel.Vornel.desktop DESTINATION ${VORNEL_SHARE_DIR}/applications)
# The release's version comes from the project's VERSION.
configure_file(${packaging}/org.vornel.Vornel.metainfo.xml.in ${CMAKE_BINARY_DIR}/packaging/org.vornel.Vornel.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/org.vornel.Vornel.metainfo.xml DESTINATION ${VORNEL_SHARE_DIR}/metainfo)
foreach(size 16 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/src/app/artwork/icon_${size}.png
    DESTINATION ${VORNEL_SHARE_DIR}/icons/hicolor/${size}x${size}/apps RENAME org.vornel.Vornel.png)
endforeach()
configure_file(${packaging}/org.vornel.fbinst.policy.in ${CMAKE_BINARY_DIR}/packaging/org.vornel.fbinst.policy @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/org.vornel.fbinst.policy DESTINATION ${VORNEL_SHARE_DIR}/polkit-1/actions)

# The command on the PATH is a relative link, so the tree works wherever it is staged; the
# program finds its data folder beside the link's target.
file(CREATE_LINK ../../${VORNEL_INSTALL_DIR}/vornel ${CMAKE_BINARY_DIR}/packaging/vornel SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/vornel DESTINATION usr/bin)

# Not include(CPack): that would reserve the target name "package", which the package library
# already has. `cpack --config BUILD/packaging/CPackConfig.cmake` reads this file instead.
configure_file(${packaging}/CPackConfig.cmake.in ${CMAKE_BINARY_DIR}/packaging/CPackConfig.cmake @ONLY)
