# The release artifact: a portable zip of the exe (installed by src/) and the README,
# with nothing to install on the target machine.
if(EXISTS ${PROJECT_SOURCE_DIR}/README.md)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
else()
    message(WARNING "README.md is missing: the release zip would lack it (scripts/release.sh refuses that)")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-win32")
# The exe sits at the top of the zip, so it runs where it is unpacked.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# The release exe keeps its symbol table: the error reporter names frames from it.
set(CPACK_STRIP_FILES OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
