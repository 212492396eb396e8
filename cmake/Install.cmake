# The install layout. The prefix stands for the root of the system the program is installed on:
# the program is an add-on package in opt/vornel/ (its data folder beside the executable, as the
# program expects), and its desktop entry, icons, metadata and polkit policy go where the desktop
# looks for them, under usr/share/. `cmake --install BUILD --prefix STAGE` lays out the same tree
# under STAGE, which is how the .deb is made.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX / CACHE PATH "The root the program is installed under" FORCE)
endif()
set(VORNEL_INSTALL_DIR opt/vornel)
set(VORNEL_SHARE_DIR usr/share)
set(VORNEL_INSTALLED_TOOL /${VORNEL_INSTALL_DIR}/fbinst.exe) # on the installed system, as polkit names it
