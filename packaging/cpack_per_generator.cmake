# Read by cpack once per generator: each package takes its own layout.
if(CPACK_GENERATOR STREQUAL "DEB")
  # One package per component: lumidex and lumidex-bridge.
  set(CPACK_COMPONENTS_ALL ${CPACK_LUMIDEX_DEB_COMPONENTS})
  set(CPACK_COMPONENTS_GROUPING IGNORE)
  # Each package's description starts with its own summary line.
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL portable)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME "lumidex-${CPACK_PACKAGE_VERSION}-${CPACK_LUMIDEX_PLATFORM}-portable")
endif()
