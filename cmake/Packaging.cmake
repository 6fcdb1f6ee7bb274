# The Debian package: `cpack -G DEB` in a build folder (scripts/package.sh) makes
# sondrel_<version>_<arch>.deb from what `cmake --install` puts under /usr. Its Depends line comes
# from the libraries the program links (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sondrel)
set(CPACK_PACKAGE_VENDOR "The Sondrel developers")
set(CPACK_PACKAGE_CONTACT "The Sondrel developers <support@sondrel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find audio files whose real quality is lower than they claim")
set(CPACK_PACKAGE_DESCRIPTION
    "Sondrel checks a DJ's music library for files that claim a higher quality than they hold: MP3s\n"
    "transcoded from low bitrates, lossless files made from lossy sources, and clipping. It finds\n"
    "where the encoder cut the high frequencies and can rename, move, trash or tag the failed\n"
    "files, or put them in a Mixxx crate.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://sondrel.org)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform and SVG icon plugins at run time, where dpkg-shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mixxx")
include(CPack)
