# Installing the library for applications: libmrvx20.so with its version
# links, the public headers (include/vo/ and the generated vo_api.h) under
# <prefix>/include/vo/, the pkg-config file mrvx20.pc and the CMake package
# configuration, through which find_package(mrvx20 CONFIG) gives the
# imported target mrvx20::mrvx20. Nothing internal is installed: no static
# archive, no test support, no private header.
#
# Both descriptions are relocatable (the prefix is the one given to
# cmake --install, not the configured one).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The packages the library links privately, by pkg-config name; a new
# dependency adds its name here (and to scripts/deps).
set(VO_PC_REQUIRES_PRIVATE libjpeg libpng zlib egl gl glu)
set(VO_PC_LIBS_PRIVATE -lm -lpthread)

install(TARGETS mrvx20 EXPORT mrvx20Targets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/vo ${VO_GEN}/include/vo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")

set(VO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mrvx20)
install(EXPORT mrvx20Targets NAMESPACE mrvx20:: DESTINATION ${VO_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/mrvx20Config.cmake.in
                              ${CMAKE_BINARY_DIR}/package/mrvx20Config.cmake INSTALL_DESTINATION ${VO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/mrvx20ConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/mrvx20Config.cmake ${CMAKE_BINARY_DIR}/package/mrvx20ConfigVersion.cmake
        DESTINATION ${VO_CMAKE_DIR})

# mrvx20.pc finds its prefix from its own place (pkg-config's pcfiledir).
file(RELATIVE_PATH VO_PC_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" VO_PC_PREFIX "${VO_PC_PREFIX}")
list(JOIN VO_PC_REQUIRES_PRIVATE " " VO_PC_REQUIRES_PRIVATE_TEXT)
list(JOIN VO_PC_LIBS_PRIVATE " " VO_PC_LIBS_PRIVATE_TEXT)
configure_file(${CMAKE_SOURCE_DIR}/cmake/mrvx20.pc.in ${CMAKE_BINARY_DIR}/package/mrvx20.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/mrvx20.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
