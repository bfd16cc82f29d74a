# Read by cpack before each package it makes. Without dpkg-shlibdeps, CPack would quietly make a
# .deb that depends on none of the libraries the program loads; it stops instead.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
    find_program(SKARNET_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(NOT SKARNET_DPKG_SHLIBDEPS)
        message(FATAL_ERROR "dpkg-shlibdeps (package dpkg-dev) is needed to work out the "
                            "libraries the .deb depends on")
    endif()
endif()
