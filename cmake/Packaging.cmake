# Manual pages and the Debian package (cpack -G DEB in the build folder).
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/docs/man/raytracer.1 ${PROJECT_SOURCE_DIR}/docs/man/scenetool.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME raytracer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "raytracer developers")
set(CPACK_PACKAGE_CONTACT "raytracer developers <raytracer@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "exact recursive ray tracer (raytracer) and its scene tool (scenetool)")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Dependencies computed from the programs' shared libraries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
