# The Windows build (cmake/mingw-w64-x86_64.cmake): annoxml.dll for the NuGet package
# (runtimes/win-x64/native/), which holds the whole library and exports the C boundary; the
# command-line tool annoxml.exe; and the tests of what they hold, to run under wine. Everything is
# linked statically (libstdc++, libgcc, winpthread, pugixml, libpng, zlib), so that the DLL, the
# tool and the tests need only the system's KERNEL32.dll and msvcrt.dll.
include(cmake/WindowsDependencies.cmake)
add_link_options(-static)
find_package(Threads REQUIRED)

# The library compiled once: linked whole into annoxml.dll, and as a static library into the tool
# and the tests.
add_library(annoxml_objects OBJECT ${ANNOXML_LIBRARY_SOURCES})
target_include_directories(annoxml_objects
  PUBLIC ${PROJECT_SOURCE_DIR}/include
  PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(annoxml_objects PUBLIC pugixml::pugixml nlohmann_json::nlohmann_json
                      Threads::Threads annoxml_png PRIVATE annoxml_warnings)
target_compile_definitions(annoxml_objects PRIVATE ANNOXML_BUILDING)
add_library(annoxml_library STATIC)
target_link_libraries(annoxml_library PUBLIC annoxml_objects)

add_library(annoxml SHARED ${ANNOXML_BOUNDARY_SOURCES})
target_link_libraries(annoxml PRIVATE annoxml_objects annoxml_warnings)
target_compile_definitions(annoxml PRIVATE ANNOXML_BUILDING)
target_link_options(annoxml PRIVATE $<$<CONFIG:Release>:-s>)
set_target_properties(annoxml PROPERTIES
  PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

if(ANNOXML_BUILD_CLI)
  set(ANNOXML_CLI_LIBRARY annoxml_library)
  add_subdirectory(cli)
endif()
if(ANNOXML_BUILD_TESTS)
  add_subdirectory(tests)
endif()
