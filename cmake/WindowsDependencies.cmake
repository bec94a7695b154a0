# The Windows build's dependencies, from Debian's sources rather than from Windows binaries:
# - pugixml: compiled from Debian's source package (scripts/fetch-pugixml-source unpacks it, the
#   version of libpugixml-dev);
# - nlohmann-json: header-only, Debian's headers copied into the build tree (the host's
#   /usr/include must not be on a cross-compiler's include path);
# - GoogleTest: compiled from /usr/src/googletest (Debian's googletest package).
set(ANNOXML_DEPS_DIR ${PROJECT_BINARY_DIR}/_deps)

set(ANNOXML_PUGIXML_SOURCE_DIR "" CACHE PATH "Unpacked pugixml sources (empty: fetch Debian's)")
if(NOT ANNOXML_PUGIXML_SOURCE_DIR)
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-pugixml-source ${ANNOXML_DEPS_DIR}
    OUTPUT_VARIABLE fetched OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE fetch_result)
  if(NOT fetch_result EQUAL 0)
    message(FATAL_ERROR "scripts/fetch-pugixml-source failed; run scripts/setup first")
  endif()
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

if(ANNOXML_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${ANNOXML_DEPS_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(name gtest gtest_main gmock)
    add_library(GTest::${name} ALIAS ${name})
  endforeach()
endif()
