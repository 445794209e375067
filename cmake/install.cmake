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

# The libraries the shared library links privately, as linker flags only: a
# Requires.private package would make pkg-config ask for its development
# files (libjpeg, libpng, zlib, EGL, GL, GLU) before it prints anything, and
# an application linking the shared library needs none of them. Only a
# static link reads these. A new dependency adds its flag here (and its
# package to scripts/deps).
list(TRANSFORM VO_JPEG_LIBRARIES PREPEND -l OUTPUT_VARIABLE VO_PC_JPEG)
list(TRANSFORM VO_PNG_LIBRARIES PREPEND -l OUTPUT_VARIABLE VO_PC_PNG)
list(TRANSFORM VO_ZLIB_LIBRARIES PREPEND -l OUTPUT_VARIABLE VO_PC_ZLIB)
set(VO_PC_LIBS_PRIVATE ${VO_PC_JPEG} ${VO_PC_PNG} ${VO_PC_ZLIB} -lEGL -lGL -lGLU -lm -lpthread)

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
list(JOIN VO_PC_LIBS_PRIVATE " " VO_PC_LIBS_PRIVATE_TEXT)
configure_file(${CMAKE_SOURCE_DIR}/cmake/mrvx20.pc.in ${CMAKE_BINARY_DIR}/package/mrvx20.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/mrvx20.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
