# Where `cmake --install` and the Debian package put the plugin. Two layouts:
#   user   - OBS's per-user plugin folder: corvane-obs/bin/64bit/ and corvane-obs/data/
#            (install with --prefix ~/.config/obs-studio/plugins); the plugin updates itself.
#   system - a distribution package under /usr: the module in OBS's system plugin folder,
#            its data where OBS looks for it, the Bluetooth helper in libexec.
set(CORVANE_INSTALL_LAYOUT "user" CACHE STRING "Install layout: user or system")
set_property(CACHE CORVANE_INSTALL_LAYOUT PROPERTY STRINGS user system)

if(CORVANE_INSTALL_LAYOUT STREQUAL "system")
  include(GNUInstallDirs)
  set(CORVANE_MODULE_DESTINATION "${CMAKE_INSTALL_LIBDIR}/obs-plugins")
  set(CORVANE_DATA_DESTINATION "${CMAKE_INSTALL_DATADIR}/obs/obs-plugins/corvane-obs")
  set(CORVANE_HELPER_DESTINATION "${CMAKE_INSTALL_LIBEXECDIR}/corvane-obs")
  # The module looks for the helper here when it is neither beside it nor among its data.
  set(CORVANE_HELPER_INSTALLED_PATH "${CMAKE_INSTALL_FULL_LIBEXECDIR}/corvane-obs/corvane-ble-helper")
elseif(CORVANE_INSTALL_LAYOUT STREQUAL "user")
  set(CORVANE_MODULE_DESTINATION corvane-obs/bin/64bit)
  set(CORVANE_DATA_DESTINATION corvane-obs/data)
  set(CORVANE_HELPER_DESTINATION corvane-obs/bin/64bit)
  set(CORVANE_HELPER_INSTALLED_PATH "")
else()
  message(FATAL_ERROR "CORVANE_INSTALL_LAYOUT must be user or system, not '${CORVANE_INSTALL_LAYOUT}'")
endif()

# OBS 32's Plugin Manager reads the plugin's name, id and version from its data folder.
configure_file(${PROJECT_SOURCE_DIR}/data/manifest.json.in ${PROJECT_BINARY_DIR}/data/manifest.json @ONLY)

# The Debian package's revision and the distribution it is built for (scripts/package sets
# them through the package presets).
set(CORVANE_DEB_REVISION "1" CACHE STRING "Debian revision of the package: 1, 1~deb13u1, 1~deb12u1")
set(CORVANE_DEB_DISTRIBUTION "unstable" CACHE STRING "Distribution the package is built for")
set(CORVANE_DEB_SYSTEM "Debian unstable" CACHE STRING "That distribution's name, for the changelog")
set(CORVANE_DEB_VERSION "${PROJECT_VERSION}-${CORVANE_DEB_REVISION}")

# The Debian package (scripts/package): what the system layout installs, with dependencies
# computed from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane-obs)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvane <support@corvane.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Live Corvane scoreboard data, graphics and device setup inside OBS Studio")
# Each line within 80 columns, as Debian's policy asks.
set(CPACK_PACKAGE_DESCRIPTION "An OBS Studio plugin that brings live scoreboard data from a Corvane\n\
scoreboard interface device into OBS (score text and graphics sources, a dock,\n\
a local live-data server) and sets up and manages the device over USB,\n\
Bluetooth LE or the network.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# OBS refuses a module built against a newer libobs than its own. Debian's versions read
# 30.2.3+dfsg-..., so only the first three numbers of libobs's own version can be compared.
string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+" CORVANE_OBS_BUILT_AGAINST "${libobs_VERSION}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "obs-studio (>= ${CORVANE_OBS_BUILT_AGAINST})")
set(CPACK_DEBIAN_PACKAGE_ENHANCES "obs-studio")
# The Bluetooth helper talks to BlueZ; USB and the network work without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bluez")
# One repository holds the package of every distribution: the Debian revision tells them
# apart (1~deb12u1 < 1~deb13u1 < 1), as Debian's own backports do.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CORVANE_DEB_REVISION})
set(CPACK_STRIP_FILES ON)

# What a Debian package carries besides the program: its copyright file, its changelog
# (compressed as dpkg expects, without a time stamp) and the udev rule for the device's
# USB serial ports.
if(CORVANE_INSTALL_LAYOUT STREQUAL "system")
  configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
  add_custom_target(corvane-debian-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/data/linux/70-corvane-obs.rules DESTINATION lib/udev/rules.d)
endif()
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
