# Install layout, the CMake package for host developers and the Debian package.
#
#   bin/                                  velvip-report, velvip-host, velvip-server
#   <libdir>/velvip/                      private shared libraries (host containers, host kit,
#                                         filter panel, server data component)
#   <libdir>/velvip/plugins/              libVelVipRpt.so, the plug-in a host loads with QPluginLoader
#   include/VelVipRpt/                    the headers a host compiles against
#   <libdir>/cmake/VelVipRpt/             VelVipRptConfig.cmake: find_package(VelVipRpt)
#   share/applications, share/icons, share/man/man1
#   lib/systemd/system/velvip-server.service, <sysconfdir>/default/velvip-server
#
# The libraries live in a folder of their own, outside the linker's search path; every
# installed binary finds them through a RUNPATH relative to $ORIGIN, so the tree can be moved.
include(CMakePackageConfigHelpers)

# Libraries a host links, by the name it sees after find_package(VelVipRpt).
set(vel_exported_libraries
  velhost Host                # Dictionary, Vector, Recordset, ComponentRegistry, outside interfaces
  velhostui HostUi            # widget side of the filter panel interface
  hostkit HostKit             # host context, shared-property store, error reporters
  hostkit_panel FilterPanel   # "Vel_GRFC.ReportFilter", needed for the filter dialogs
  velserver_shared Server     # "VelMVipRpt.GLData", the server data component
)
set(vel_export_targets)
while(vel_exported_libraries)
  list(POP_FRONT vel_exported_libraries target name)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name} INSTALL_RPATH "$ORIGIN")
  list(APPEND vel_export_targets ${target})
endwhile()
set_target_properties(VelVipRpt PROPERTIES EXPORT_NAME Plugin)
vel_origin_path(vel_plugin_rpath ${VEL_INSTALL_PLUGINDIR} ${VEL_INSTALL_PKGLIBDIR})
set_target_properties(VelVipRpt PROPERTIES INSTALL_RPATH "${vel_plugin_rpath}")

install(TARGETS ${vel_export_targets} EXPORT VelVipRptTargets
  LIBRARY DESTINATION ${VEL_INSTALL_PKGLIBDIR}
  INCLUDES DESTINATION ${VEL_INSTALL_INCLUDEDIR})
install(TARGETS VelVipRpt EXPORT VelVipRptTargets
  LIBRARY DESTINATION ${VEL_INSTALL_PLUGINDIR})
# Shared by the plug-in and the server data component; no host links it.
set_target_properties(velshared PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS velshared LIBRARY DESTINATION ${VEL_INSTALL_PKGLIBDIR})

install(FILES
  libs/velhost/AtomicFile.h libs/velhost/ComponentRegistry.h libs/velhost/DesktopProps.h
  libs/velhost/Dictionary.h libs/velhost/ErrorReporter.h libs/velhost/HeaderColumns.h libs/velhost/Recordset.h
  libs/velhost/ServerData.h libs/velhost/ShareProps.h libs/velhost/Types.h libs/velhost/Vector.h
  libs/velhost/VelError.h
  libs/velhostui/FilterPanel.h
  hostkit/core/HostKit.h
  hostkit/panel/ReportFilterPanel.h
  server/BranchScope.h server/ServerComponents.h
  DESTINATION ${VEL_INSTALL_INCLUDEDIR})
get_property(vel_export_headers GLOBAL PROPERTY VEL_EXPORT_HEADERS)
list(FILTER vel_export_headers EXCLUDE REGEX "/velshared_export\\.h$")
install(FILES ${vel_export_headers} DESTINATION ${VEL_INSTALL_INCLUDEDIR})
install(FILES
  src/include/facade/Application.h src/include/facade/Catalog.h src/include/facade/ComponentLibrary.h
  src/include/facade/IQueryReport.h src/include/facade/IReportFilter.h
  DESTINATION ${VEL_INSTALL_INCLUDEDIR}/facade)

install(EXPORT VelVipRptTargets NAMESPACE VelVipRpt:: DESTINATION ${VEL_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/VelVipRptConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VelVipRptConfig.cmake
  INSTALL_DESTINATION ${VEL_INSTALL_CMAKEDIR}
  PATH_VARS VEL_INSTALL_PLUGINDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VelVipRptConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VelVipRptConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/VelVipRptConfigVersion.cmake
  DESTINATION ${VEL_INSTALL_CMAKEDIR})

# The hosts, with their desktop entry, icon and manual page.
vel_origin_path(vel_lib_rpath ${CMAKE_INSTALL_BINDIR} ${VEL_INSTALL_PKGLIBDIR})
vel_origin_path(vel_bin_plugin_rpath ${CMAKE_INSTALL_BINDIR} ${VEL_INSTALL_PLUGINDIR})
set_target_properties(velvip-report velvip-host PROPERTIES
  INSTALL_RPATH "${vel_lib_rpath};${vel_bin_plugin_rpath}")
install(TARGETS velvip-report velvip-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES packaging/velvip-host.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/velvip-host.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages are installed compressed, as Debian expects.
set(vel_man_pages)
foreach(program velvip-report velvip-host velvip-server)
  set(vel_man_gz ${CMAKE_CURRENT_BINARY_DIR}/${program}.1.gz)
  add_custom_command(OUTPUT ${vel_man_gz}
    COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/packaging/${program}.1 > ${vel_man_gz}
    DEPENDS packaging/${program}.1 VERBATIM)
  list(APPEND vel_man_pages ${vel_man_gz})
endforeach()
add_custom_target(velvip-man ALL DEPENDS ${vel_man_pages})
install(FILES ${vel_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The report service, its systemd unit and its settings.
if(TARGET velvip-server)
  vel_origin_path(vel_server_lib_rpath ${CMAKE_INSTALL_BINDIR} ${VEL_INSTALL_PKGLIBDIR})
  vel_origin_path(vel_server_plugin_rpath ${CMAKE_INSTALL_BINDIR} ${VEL_INSTALL_PLUGINDIR})
  set_target_properties(velvip-server PROPERTIES INSTALL_RPATH "${vel_server_lib_rpath};${vel_server_plugin_rpath}")
  install(TARGETS velvip-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/velvip-server.service DESTINATION lib/systemd/system)
  # Two instances behind the site: its upstream block, an example beside the documentation.
  install(FILES packaging/nginx/velvip-upstream.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velvip/examples)
  # Its settings go to <sysconfdir>/default: /etc for the prefix /usr (the package), else
  # PREFIX/etc, decided when installing, so `cmake --install --prefix DIR` stays inside DIR.
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(vel_etc /etc)
    else()
      set(vel_etc \"\${CMAKE_INSTALL_PREFIX}/etc\")
    endif()
    file(INSTALL DESTINATION \"\${vel_etc}/default\" TYPE FILE RENAME velvip-server
         FILES \"${CMAKE_CURRENT_SOURCE_DIR}/packaging/velvip-server.default\")
    file(INSTALL DESTINATION \"\${vel_etc}/nginx/sites-available\" TYPE FILE RENAME velvip
         FILES \"${CMAKE_CURRENT_SOURCE_DIR}/packaging/nginx/velvip.conf\")")
  # Files under /etc that the administrator edits: dpkg keeps their changes on upgrade. The
  # reverse proxy's site is an example, enabled by linking it into sites-enabled.
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles "/etc/default/velvip-server\n/etc/nginx/sites-available/velvip\n")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS nginx)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles)
endif()

# cpack -G DEB in the build tree makes velvip_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME velvip)
set(CPACK_PACKAGE_VENDOR "VelVipRpt")
set(CPACK_PACKAGE_CONTACT "VelVipRpt 开发组 <velvip@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "会员卡报表插件及其命令行、桌面主程序和报表服务")
# The reports by the names the plug-in's catalogue gives them, so that the description lists each.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/include/facade/Catalog.h vel_catalog ENCODING UTF-8 REGEX "^ *\\{[0-9]+, \"")
list(TRANSFORM vel_catalog REPLACE ".*\"([^\"]+)\"\\},.*" "\\1")
list(JOIN vel_catalog "、" vel_report_names)
if(NOT vel_report_names OR vel_report_names MATCHES "[{\"]")
  message(FATAL_ERROR "facade/Catalog.h: no report names found for the package description")
endif()
set(CPACK_PACKAGE_DESCRIPTION "会员卡（VIP）报表插件：${vel_report_names}。\n包含命令行主程序 velvip-report、桌面主程序 velvip-host、报表服务 velvip-server（浏览器门户、登录与分店范围、定时邮件发送，附 systemd 单元 velvip-server.service 和设置文件 /etc/default/velvip-server），以及主程序开发所需的头文件和 CMake 包配置。")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${CMAKE_CURRENT_BINARY_DIR}/lib)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's SQLite driver (saved filter
# schemes, SQLite chains) and, for a chain's central PostgreSQL database, Qt's PostgreSQL driver.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql, fonts-noto-cjk")
include(CPack)
