# The bundle's metadata and icon, in the build tree and in the install, and
# the Debian package made by `cpack -G DEB`.
#
# A host reads Contents/Info.plist and shows Contents/Resources/ID.png as
# the plug-in's icon, ID being the plug-in identifier. Both are put into the
# build tree's bundle at configure time, so the build tree holds a complete
# bundle that a host can be pointed at.

set(LENSTROVE_PLUGIN_BINARY QelLenstrove.ofx)
set(_lenstrove_icon ${PROJECT_SOURCE_DIR}/packaging/${LENSTROVE_PLUGIN_IDENTIFIER}.png)
set(_lenstrove_bundle_install ${LENSTROVE_OFX_INSTALL_DIR}/${LENSTROVE_BUNDLE_NAME})

configure_file(${PROJECT_SOURCE_DIR}/packaging/Info.plist.in ${LENSTROVE_BUNDLE_DIR}/Contents/Info.plist @ONLY)
configure_file(${_lenstrove_icon} ${LENSTROVE_BUNDLE_DIR}/Contents/Resources/${LENSTROVE_PLUGIN_IDENTIFIER}.png
               COPYONLY)

install(FILES ${LENSTROVE_BUNDLE_DIR}/Contents/Info.plist
        DESTINATION ${_lenstrove_bundle_install}/Contents COMPONENT plugin)
install(FILES ${_lenstrove_icon}
        DESTINATION ${_lenstrove_bundle_install}/Contents/Resources COMPONENT plugin)

set(CPACK_PACKAGE_NAME lenstrove)
set(CPACK_PACKAGE_VENDOR "Qel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Qel Lenstrove OpenFX framing aids and the lenstrove command")
# CPack puts the summary line in front of this text itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Qel Lenstrove is an OpenFX image-effect plug-in that draws framing aids
(skin-tone line and patches, an 18% gray band, thirds, golden-ratio and
crosshair guides, 1.85, 2.35 and 2.39 crop bars) and two exposure views
(false colour, legal levels). The bundle installs under /usr/OFX/Plugins,
where editing applications look for OpenFX plug-ins.
.
The lenstrove command runs OpenFX filter plug-ins over image files and
numbered sequences, and renders a demo of every aid.")
# A build without the command (the cross builds) packages the plug-in alone.
if(NOT LENSTROVE_BUILD_CLI)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Qel Lenstrove OpenFX framing aids")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Qel Lenstrove is an OpenFX image-effect plug-in that draws framing aids
(skin-tone line and patches, an 18% gray band, thirds, golden-ratio and
crosshair guides, 1.85, 2.35 and 2.39 crop bars) and two exposure views
(false colour, legal levels). The bundle installs under /usr/OFX/Plugins,
where editing applications look for OpenFX plug-ins.")
endif()
# The Python module applies them to numpy arrays.
if(LENSTROVE_PYTHON_TARGET)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "
.
The lenstrove Python module applies OpenFX filter plug-ins to numpy arrays.")
endif()
set(CPACK_PACKAGE_CONTACT "Lenstrove maintainers <lenstrove@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The plug-in needs only libc and libm; the command needs OpenImageIO.
# dpkg-shlibdeps works out the exact package names and versions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps knows only the build machine's own libraries; a cross-built
# Linux module states its one dependency itself: the C library at the oldest
# version its symbols ask for, which a test holds to.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.17)")
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  endif()
endif()
# The demo's contact sheet writes its labels in DejaVu Sans.
if(LENSTROVE_BUILD_CLI)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-core)
endif()
# The Python module needs its interpreter and numpy, which the rest does not.
if(LENSTROVE_PYTHON_TARGET)
  list(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS "${LENSTROVE_PYTHON_DEB_RECOMMENDS}")
  list(JOIN CPACK_DEBIAN_PACKAGE_RECOMMENDS ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
include(CPack)
