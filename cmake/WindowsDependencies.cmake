# The Windows build's dependencies, from Debian's sources rather than from Windows binaries:
# - pugixml, libpng and zlib: compiled from Debian's source packages (scripts/fetch-debian-source
#   unpacks them; cmake/DebianPng.cmake builds libpng and zlib);
# - nlohmann-json and CLI11: header-only, Debian's headers copied into the build tree (the host's
#   /usr/include must not be on a cross-compiler's include path);
# - GoogleTest: compiled from /usr/src/googletest (Debian's googletest package).
set(ANNOXML_DEPS_DIR ${PROJECT_BINARY_DIR}/_deps)

include(${PROJECT_SOURCE_DIR}/cmake/DebianPng.cmake)
add_library(PNG::PNG ALIAS annoxml_png)

set(ANNOXML_PUGIXML_SOURCE_DIR "" CACHE PATH "Unpacked pugixml sources (empty: fetch Debian's)")
if(NOT ANNOXML_PUGIXML_SOURCE_DIR)
  annoxml_fetch_debian_source(libpugixml-dev fetched)
  set(ANNOXML_PUGIXML_SOURCE_DIR ${fetched} CACHE PATH "Unpacked pugixml sources" FORCE)
endif()
add_library(pugixml STATIC ${ANNOXML_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
target_include_directories(pugixml SYSTEM PUBLIC ${ANNOXML_PUGIXML_SOURCE_DIR}/src)
add_library(pugixml::pugixml ALIAS pugixml)

set(ANNOXML_JSON_HEADERS /usr/include/nlohmann CACHE PATH "nlohmann-json's header folder")
file(COPY ${ANNOXML_JSON_HEADERS} DESTINATION ${ANNOXML_DEPS_DIR}/include)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${ANNOXML_DEPS_DIR}/include)
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

set(ANNOXML_CLI11_HEADERS /usr/include/CLI CACHE PATH "CLI11's header folder")
file(COPY ${ANNOXML_CLI11_HEADERS} DESTINATION ${ANNOXML_DEPS_DIR}/include)
add_library(CLI11 INTERFACE)
target_include_directories(CLI11 SYSTEM INTERFACE ${ANNOXML_DEPS_DIR}/include)
add_library(CLI11::CLI11 ALIAS CLI11)

if(ANNOXML_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${ANNOXML_DEPS_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(name gtest gtest_main gmock)
    add_library(GTest::${name} ALIAS ${name})
  endforeach()
endif()
