# The Debian packages, made by CPack from the install rules (scripts/package.sh): quorvane, and
# quorvane-sound with the sound module, which alone pulls in the multimedia stack. The program
# only recommends it: without it the probes go on in silence, as it says once.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_VENDOR "Harrowbecks Software, Inc.")
# Each package's description, its summary first: CPack would put the one summary on both.
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION [=[keep network connections up by pinging a list of servers
Quorvane lives in the notification area and keeps network connections up:
every few seconds it sends one ICMP echo request to the next server of a
short list, round robin. A server that does not answer is tried twice more,
and optionally the following servers too.
.
A click on its icon opens a dialog for the delay between requests, a sonar
sound with every request and the server list, kept in one small text file.
It can start with the desktop session, or as a user service without one.]=])
set(CPACK_COMPONENT_SOUND_DESCRIPTION [=[sonar sound for Quorvane's echo requests
Quorvane plays a short sonar clip with each echo request when its Sound
option is on. This package holds the module that plays it, which needs the
Qt Multimedia libraries; without it Quorvane works the same, in silence.]=])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Harrowbecks Software <packages@harrowbecks.net>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://harrowbecks.net/quorvane")
# The libraries the binaries link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program sound)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME quorvane)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_RECOMMENDS "quorvane-sound (= ${CPACK_PACKAGE_VERSION})")
set(CPACK_DEBIAN_SOUND_PACKAGE_NAME quorvane-sound)
# Besides what the module links: the program that loads it, of the same build.
set(CPACK_DEBIAN_SOUND_PACKAGE_DEPENDS "quorvane (= ${CPACK_PACKAGE_VERSION})")
set(CPACK_DEBIAN_SOUND_PACKAGE_SECTION sound)
include(CPack)
