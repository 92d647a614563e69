# make package: a Debian package of the program, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbitale)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Orbitale developers")
set(CPACK_PACKAGE_CONTACT "The Orbitale developers <orbitale@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "The Earth's revolution, animated (地球公转)")
set(CPACK_PACKAGE_DESCRIPTION "A small animation of the Earth travelling its elliptical orbit \
over a choice of scenery, in two windows with a Simplified Chinese interface.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orbitale.invalid/")
# The shared libraries are found by dpkg-shlibdeps; the rest are run-time
# needs it cannot see: Qt's platform and image plugins, the CJK font for the
# captions, Qt's own Chinese texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A Wayland session without XWayland needs the Wayland platform plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-noto-cjk, qt6-translations-l10n")
include(CPack)
