# Read by cpack before it builds each package. The About box's "Vantrel Home" opens the README
# under the prefix the build was configured for; a package for another prefix would point it at
# a file that does not exist there.
if(NOT CPACK_VANTREL_BUILD_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
    message(WARNING "This build was configured for ${CPACK_VANTREL_BUILD_PREFIX}, but the package installs into "
                    "${CPACK_PACKAGING_INSTALL_PREFIX}: its About box would look for the README under "
                    "${CPACK_VANTREL_BUILD_PREFIX}. For a release, configure with "
                    "-DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX}.")
endif()
