# Read by cpack once per generator: each package takes its own layout.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL installed)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL portable)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME "lumidex-${CPACK_PACKAGE_VERSION}-${CPACK_LUMIDEX_PLATFORM}-portable")
endif()
