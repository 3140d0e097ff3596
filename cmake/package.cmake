# The Debian package, made by CPack from the install rules (scripts/package.sh).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_VENDOR "Harrowbecks Software, Inc.")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep network connections up by pinging a list of servers")
# Lines as they go into the control file, each short enough to read there.
set(CPACK_PACKAGE_DESCRIPTION [=[
Quorvane lives in the notification area and keeps network connections up:
every few seconds it sends one ICMP echo request to the next server of a
short list, round robin. A server that does not answer is tried twice more,
and optionally the following servers too.
.
A click on its icon opens a dialog for the delay between requests, a sonar
sound with every request and the server list, kept in one small text file.
It can start with the desktop session, or as a user service without one.]=])
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
include(CPack)
