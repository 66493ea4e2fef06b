# Read by cpack once for each package it makes: what goes into it.
if(CPACK_GENERATOR STREQUAL "DEB")
    # The package's dependencies are read off the program by dpkg-shlibdeps,
    # which cpack finds with file; without them cpack would make a lesser
    # package or none at all.
    find_program(CPACK_FILE_PROGRAM file)
    find_program(CPACK_SHLIBDEPS_PROGRAM dpkg-shlibdeps)
    if(NOT CPACK_FILE_PROGRAM OR NOT CPACK_SHLIBDEPS_PROGRAM)
        message(FATAL_ERROR "the Debian package needs file and dpkg-shlibdeps: "
                            "apt-get install file dpkg-dev")
    endif()
    set(CPACK_COMPONENTS_ALL system debian)
elseif(CPACK_GENERATOR STREQUAL "RPM")
    find_program(rpmbuild rpmbuild)
    if(NOT rpmbuild)
        message(FATAL_ERROR "the RPM needs rpmbuild: apt-get install rpm")
    endif()
    set(CPACK_COMPONENTS_ALL system rpm)
else()
    set(CPACK_COMPONENTS_ALL tarball)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
