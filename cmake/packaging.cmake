# The man page, the licence, and Debian packages through CPack: one package
# per install component (library, -dev, tool). `cpack -G DEB` in the build
# tree writes them.
if(TARGET twxml)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/twxml.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tool)
endif()

set(TWXML_DEB_LIB libtwxmlv80-${PROJECT_VERSION_MAJOR})
set(TWXML_DEB_DEV libtwxml-dev)
set(TWXML_DEB_TOOL twxml)
foreach(component lib dev tool)
  string(TOUPPER ${component} c)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TWXML_DEB_${c}}
          RENAME copyright COMPONENT ${component})
endforeach()

set(CPACK_PACKAGE_NAME twxml)
set(CPACK_PACKAGE_VENDOR "the twxml authors")
set(CPACK_PACKAGE_CONTACT "twxml maintainers <maintainers@twxml.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "XML access library with handle, document and reader/writer faces")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL lib dev tool)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(_twxml_exact "${TWXML_DEB_LIB} (= ${PROJECT_VERSION}-1)")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${TWXML_DEB_LIB})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_PACKAGE_DEPENDS "libc6, libstdc++6")
# Declares the shared library to the package system (shlibs, ldconfig trigger).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_LIB_DESCRIPTION
    "twxml XML access library: shared library and streaming reader/writer module")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${TWXML_DEB_DEV})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS ${_twxml_exact})
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "twxml XML access library: headers, CMake package and pkg-config file")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${TWXML_DEB_TOOL})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION text)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS ${_twxml_exact})
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "twxml: check, outline, copy and measure XML documents")

include(CPack)
