# The Windows build (cmake/mingw-w64-x86_64.cmake): annoxml.dll for the NuGet package
# (runtimes/win-x64/native/), which exports the C boundary, and the tests of what it holds, to run
# under wine. Everything is linked statically, so that the DLL and the tests need only the system's
# KERNEL32.dll and msvcrt.dll. The frame model, data sets, previews, masks, YOLO export, statistics
# and the command-line tool are left out.
include(cmake/WindowsDependencies.cmake)
add_link_options(-static)

# The library as the tests link it.
add_library(annoxml_core STATIC ${ANNOXML_CORE_SOURCES})
target_include_directories(annoxml_core
  PUBLIC ${PROJECT_SOURCE_DIR}/include
  PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(annoxml_core PUBLIC pugixml::pugixml nlohmann_json::nlohmann_json
                      PRIVATE annoxml_warnings)
target_compile_definitions(annoxml_core PRIVATE ANNOXML_BUILDING)

add_library(annoxml SHARED ${ANNOXML_BOUNDARY_SOURCES})
target_link_libraries(annoxml PRIVATE annoxml_core annoxml_warnings)
target_compile_definitions(annoxml PRIVATE ANNOXML_BUILDING)
target_link_options(annoxml PRIVATE $<$<CONFIG:Release>:-s>)
set_target_properties(annoxml PROPERTIES
  PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

if(ANNOXML_BUILD_TESTS)
  add_subdirectory(tests)
endif()
