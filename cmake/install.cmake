# Install rules: the tool, its manual page, and the document store for other
# device programs (static library, public header, pkg-config file and CMake
# package xmldata with the target xmldata::xmldata).
#
# The store calls the device debug library (tolu_dbg_get_level_name,
# tolu_dbg_syslog, tolu_dbg_log).  On the device the platform provides it as
# libtolu_debug; elsewhere the stand-in of this tree is installed under that
# name (XMLCFG_INSTALL_DEBUG_LIB).  Both the pkg-config file and the CMake
# package link it after the store, so a program that defines the three
# functions itself keeps its own.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS xmlcfg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/xmlcfg.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(XMLDATA_EXPORTED xmldata)
if(XMLCFG_INSTALL_DEBUG_LIB)
  list(APPEND XMLDATA_EXPORTED tolu_debug)
  install(FILES ${PROJECT_SOURCE_DIR}/platform/tolu_debug/tolu_debug.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  target_link_libraries(xmldata INTERFACE $<INSTALL_INTERFACE:xmldata::tolu_debug>)
else()
  target_link_libraries(xmldata INTERFACE $<INSTALL_INTERFACE:tolu_debug>)
endif()

install(TARGETS ${XMLDATA_EXPORTED} EXPORT xmldataTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/xmldata/xmldata.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/xmldata)

set(XMLDATA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/xmldata)
install(EXPORT xmldataTargets NAMESPACE xmldata:: DESTINATION ${XMLDATA_CMAKE_DIR})
configure_package_config_file(cmake/xmldataConfig.cmake.in
  ${PROJECT_BINARY_DIR}/xmldataConfig.cmake
  INSTALL_DESTINATION ${XMLDATA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/xmldataConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/xmldataConfig.cmake
              ${PROJECT_BINARY_DIR}/xmldataConfigVersion.cmake
        DESTINATION ${XMLDATA_CMAKE_DIR})

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
install(FILES ${PROJECT_BINARY_DIR}/xmldata.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
