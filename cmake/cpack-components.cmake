# Read by cpack once for each package it makes: what goes into it.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_COMPONENTS_ALL system)
else()
    set(CPACK_COMPONENTS_ALL tarball)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
