# The browser portal: web/ bundled by esbuild (index.html, hashed scripts and style with
# their .br and .gz copies, the favicon) into bin/portal beside velvip-server, installed
# to share/velvip-server/portal. Needs npm; without it the service runs without the portal. The
# glob only tells when to bundle again: esbuild follows the imports from src/main.ts itself.
find_program(VEL_NPM npm)
set(vel_web ${PROJECT_SOURCE_DIR}/web)
if(VEL_NPM)
  set(vel_portal ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/portal)
  file(GLOB vel_web_sources CONFIGURE_DEPENDS ${vel_web}/src/*)
  add_custom_command(OUTPUT ${vel_web}/node_modules/.package-lock.json
    COMMAND ${VEL_NPM} ci --no-audit --no-fund --loglevel=error
    DEPENDS ${vel_web}/package-lock.json WORKING_DIRECTORY ${vel_web} VERBATIM)
  add_custom_command(OUTPUT ${vel_portal}/index.html
    COMMAND ${VEL_NPM} run --silent build -- ${vel_portal}
    DEPENDS ${vel_web_sources} ${vel_web}/build.mjs ${vel_web}/node_modules/.package-lock.json
    WORKING_DIRECTORY ${vel_web} VERBATIM)
  add_custom_target(velvip-portal ALL DEPENDS ${vel_portal}/index.html)
  add_dependencies(velvip-server velvip-portal)
  include(GNUInstallDirs)
  install(DIRECTORY ${vel_portal}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velvip-server/portal)
else()
  message(STATUS "velvip-server: npm missing; the portal is not built")
endif()
