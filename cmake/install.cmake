# Install rules, in three components:
#
#   runtime        what a device image needs: xmlcfg and its manual page (in
#                  a shared build also libxmldata.so.1, which xmlcfg needs)
#   devel          the document store for other device programs: the header,
#                  libxmldata, xmldata.pc, the CMake package xmldata (target
#                  xmldata::xmldata) and the manual page xmldata.3
#   debug-standin  the stand-in debug library, libtolu_debug.a and
#                  tolu_debug.h; only with --component debug-standin, or in a
#                  plain install with XMLCFG_INSTALL_DEBUG_LIB=ON
#
# The store calls the device debug library (tolu_dbg_get_level_name,
# tolu_dbg_syslog, tolu_dbg_log).  On the device the platform provides it as
# libtolu_debug, and the stand-in must not be installed beside it, where it
# would shadow it.  Both the pkg-config file and the CMake package link the
# debug library after the store, so a program that defines the three
# functions itself keeps its own.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(XMLDATA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/xmldata)

install(TARGETS xmlcfg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/man/xmlcfg.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

# The store.  A shared build puts libxmldata.so.1 (what xmlcfg loads) into
# the runtime component and the link name libxmldata.so into devel.
install(TARGETS xmldata EXPORT xmldataTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT devel
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT devel
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/xmldata/xmldata.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/xmldata COMPONENT devel)
install(FILES ${PROJECT_SOURCE_DIR}/man/xmldata.3
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT devel)
install(EXPORT xmldataTargets NAMESPACE xmldata:: DESTINATION ${XMLDATA_CMAKE_DIR}
        COMPONENT devel)
# xmldata::tolu_debug is the stand-in's exported target where it was
# installed; otherwise xmldataConfig.cmake makes it stand for the platform's
# libtolu_debug, or for nothing.
target_link_libraries(xmldata INTERFACE $<INSTALL_INTERFACE:xmldata::tolu_debug>)

configure_package_config_file(cmake/xmldataConfig.cmake.in
  ${PROJECT_BINARY_DIR}/xmldataConfig.cmake
  INSTALL_DESTINATION ${XMLDATA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/xmldataConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/xmldataConfig.cmake
              ${PROJECT_BINARY_DIR}/xmldataConfigVersion.cmake
        DESTINATION ${XMLDATA_CMAKE_DIR} COMPONENT devel)

# The stand-in, with an export file of its own that the package loads only
# when it is there.
if(XMLCFG_INSTALL_DEBUG_LIB)
  set(XMLCFG_STANDIN_ALL "")
else()
  set(XMLCFG_STANDIN_ALL EXCLUDE_FROM_ALL)
endif()
install(TARGETS tolu_debug EXPORT xmldataStandinTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT debug-standin ${XMLCFG_STANDIN_ALL})
install(FILES ${PROJECT_SOURCE_DIR}/platform/tolu_debug/tolu_debug.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT debug-standin ${XMLCFG_STANDIN_ALL})
install(EXPORT xmldataStandinTargets NAMESPACE xmldata:: DESTINATION ${XMLDATA_CMAKE_DIR}
        COMPONENT debug-standin ${XMLCFG_STANDIN_ALL})

# pkg-config file.  Its prefix is found from the file's own place, so that
# the tree still works when installed with another --prefix or DESTDIR.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(XMLDATA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(XMLDATA_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH XMLDATA_PC_UP "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" XMLDATA_PC_UP "${XMLDATA_PC_UP}")
  set(XMLDATA_PC_PREFIX "\${pcfiledir}/${XMLDATA_PC_UP}")
  set(XMLDATA_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(XMLDATA_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(XMLDATA_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
# The store is C++ behind a C interface: a C program linking the static
# library needs the C++ runtime as well.
if(BUILD_SHARED_LIBS)
  set(XMLDATA_PC_LIBS "\nLibs.private: -lstdc++")
else()
  set(XMLDATA_PC_LIBS " -lstdc++")
endif()
configure_file(cmake/xmldata.pc.in ${PROJECT_BINARY_DIR}/xmldata.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/xmldata.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT devel)
