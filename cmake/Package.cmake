# make package: a Debian package of the program, installed under /usr.
# scripts/package.sh builds it in build-package/ with Debian's hardening flags
# and the time of the last commit, so that it can be rebuilt bit for bit.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbitale)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Orbitale developers")
# The project has no domain of its own yet: .invalid can never be mistaken
# for someone else's address, and Debian's checker accepts it as a mail host.
set(CPACK_PACKAGE_CONTACT "Orbitale developers <orbitale-devel@lists.orbitale.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "animation of the Earth's revolution (地球公转)")
# One paragraph, lines under 80 columns: CPack prefixes each line with a space.
set(CPACK_PACKAGE_DESCRIPTION
    "A spinning Earth travels an elliptical orbit over a choice of scenery:\n\
outer space, a blue sky with white clouds, the capital Beijing or a park.\n\
Two windows of one design, switched by a click on the window's background;\n\
the hidden window's Earth keeps moving. The interface is in Simplified\n\
Chinese. The package also holds orbit-trace, which prints the Earth's\n\
positions tick by tick, and picture-check, which tells whether a picture\n\
would load.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orbitale.invalid/")
# Stripped as Debian strips its packages' binaries.
set(CPACK_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripLikeDebian.cmake)
# Folders the package shares with others belong to root, mode 755, like the
# rest of Debian.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The shared libraries are found by dpkg-shlibdeps; the rest are run-time
# needs it cannot see: Qt's plugin for the X11 display, the CJK font for the
# captions, Qt's own Chinese texts. (Pictures are decoded by the program's
# own helper with the format libraries and confined with libseccomp, which
# dpkg-shlibdeps finds; libheif's decoder plugins on Debian 13 it cannot see.)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A Wayland session without XWayland needs the Wayland platform plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

# Which package ships a plugin changes between Debian releases (Debian 12 puts
# them in libqt6gui6, which the program links anyway): ask dpkg on the machine
# the package is built for.
set(orbitale_plugin_packages)
find_program(DPKG_QUERY_EXECUTABLE dpkg-query)
set(orbitale_plugins "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/platforms/libqxcb.so")
# libheif from 1.16 on (Debian 13) loads its HEVC and AV1 decoders as plugins,
# each a package of its own; Debian 12's has them built in.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(ORBITALE_HEIF QUIET libheif)
    if(ORBITALE_HEIF_FOUND AND ORBITALE_HEIF_VERSION VERSION_GREATER_EQUAL 1.16)
        pkg_get_variable(heif_libdir libheif libdir)
        foreach(decoder libde265 dav1d)
            list(APPEND orbitale_plugins "${heif_libdir}/libheif/plugins/libheif-${decoder}.so")
        endforeach()
    endif()
endif()
if(DPKG_QUERY_EXECUTABLE)
    foreach(path ${orbitale_plugins})
        execute_process(COMMAND ${DPKG_QUERY_EXECUTABLE} -S "${path}"
                        OUTPUT_VARIABLE owner RESULT_VARIABLE status ERROR_QUIET)
        if(NOT status EQUAL 0 OR NOT owner MATCHES "^([a-z0-9.+-]+)(:[a-z0-9]+)?: ")
            message(WARNING "No Debian package ships ${path}: the package will not depend on it")
            continue()
        endif()
        # libqt6gui6 is named already by dpkg-shlibdeps, with its version.
        if(NOT CMAKE_MATCH_1 STREQUAL "libqt6gui6")
            list(APPEND orbitale_plugin_packages ${CMAKE_MATCH_1})
        endif()
    endforeach()
    list(REMOVE_DUPLICATES orbitale_plugin_packages)
endif()
list(JOIN orbitale_plugin_packages ", " plugin_depends)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, qt6-translations-l10n")
if(plugin_depends)
    string(PREPEND CPACK_DEBIAN_PACKAGE_DEPENDS "${plugin_depends}, ")
endif()
include(CPack)
