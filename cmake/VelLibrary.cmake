# Where the package puts things (see VelInstall.cmake).
include(GNUInstallDirs)
set(VEL_INSTALL_PKGLIBDIR ${CMAKE_INSTALL_LIBDIR}/velvip)
set(VEL_INSTALL_PLUGINDIR ${VEL_INSTALL_PKGLIBDIR}/plugins)
set(VEL_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/VelVipRpt)
set(VEL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelVipRpt)

# "$ORIGIN/<path from the folder of `from` to `to`>", both relative to the prefix.
function(vel_origin_path out from to)
  file(RELATIVE_PATH rel /prefix/${from} /prefix/${to})
  if(rel STREQUAL "")
    set(${out} "$ORIGIN" PARENT_SCOPE)
  else()
    set(${out} "$ORIGIN/${rel}" PARENT_SCOPE)
  endif()
endfunction()

# Shared libraries keep their symbols to themselves: only what a header marks with the library's
# export macro (generated: <target>_export.h, e.g. VELHOST_EXPORT) is visible to other binaries.
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
include(GenerateExportHeader)

# The binary interface of the libraries hosts link: SONAME lib<name>.so.<VEL_SOVERSION>.
set(VEL_SOVERSION 1)
set(VEL_LIBRARY_VERSION ${VEL_SOVERSION}.${PROJECT_VERSION_MINOR}.0)

# vel_shared_library(<target> [<name>]): the export header <name>_export.h (name: the target's
# by default) and the version.
function(vel_shared_library target)
  set(name ${target})
  if(ARGC GREATER 1)
    set(name ${ARGV1})
  endif()
  string(TOUPPER ${name} base)
  generate_export_header(${target} BASE_NAME ${base} EXPORT_FILE_NAME ${name}_export.h)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}>)
  set_property(GLOBAL APPEND PROPERTY VEL_EXPORT_HEADERS ${CMAKE_CURRENT_BINARY_DIR}/${name}_export.h)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set_target_properties(${target} PROPERTIES VERSION ${VEL_LIBRARY_VERSION} SOVERSION ${VEL_SOVERSION})
  endif()
endfunction()
