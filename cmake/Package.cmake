# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, belvoran_<version>_amd64.deb: `cpack -G DEB` in the build folder (see
# scripts/package). The library dependencies come from dpkg-shlibdeps on the installed
# program; the rest are what it loads at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME belvoran)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${BELVORAN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "school bells, announcements and break music from a weekly timetable")
set(CPACK_PACKAGE_DESCRIPTION
    "Belvoran runs a school's public-address system. It plays bells,
announcements and break music through the sound card at fixed times of day
from a weekly timetable, with a rain-day mode, special days, play zones and a
daily shutdown.
.
It runs as a desktop program in the notification area, or without a window
as the system service belvoran.service (installed disabled).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BELVORAN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The store and the central timetable (Qt's SQL drivers); playback, MP3 (good), MIDI
# (fluidsynth in bad, with its sound font), the sound card's sink; the window's font and Qt's
# own dialogs in Chinese (qtbase_zh_CN); the service's user.
set(depends libqt6sql6-sqlite libqt6sql6-psql gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-bad gstreamer1.0-alsa timgm6mb-soundfont fonts-wqy-microhei
    qt6-translations-l10n adduser)
list(JOIN depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# A desktop's sound server, AAC (m4a), real time for a desktop user.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-pulseaudio, gstreamer1.0-libav, rtkit")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/resources/package/postinst
    ${PROJECT_SOURCE_DIR}/resources/package/prerm
    ${PROJECT_SOURCE_DIR}/resources/package/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
