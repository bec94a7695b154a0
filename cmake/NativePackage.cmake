# The libannoxml.so that the NuGet package carries (runtimes/linux-x64/native/): the whole library
# (ANNOXML_LIBRARY_SOURCES) and the C boundary, with pugixml, libpng, zlib, libstdc++ and libgcc
# linked in, so that it needs nothing but glibc. libpng and zlib are compiled position-independent
# from Debian's sources (cmake/DebianPng.cmake): Debian's libpng16.a cannot go into a shared
# library. Only the C boundary's functions are exported (native_package.map). The annoxml target,
# which is installed for C++ hosts, stays as it is.
find_library(ANNOXML_PUGIXML_STATIC NAMES libpugixml.a REQUIRED)
set(ANNOXML_DEPS_DIR ${PROJECT_BINARY_DIR}/_deps)
include(${PROJECT_SOURCE_DIR}/cmake/DebianPng.cmake)

# The library's objects are the installed library's (annoxml_objects); the PNG writer is compiled
# again, against the libpng linked in.
add_library(annoxml_native_package SHARED ${ANNOXML_PNG_SOURCES}
            $<TARGET_OBJECTS:annoxml_objects>)
target_include_directories(annoxml_native_package PRIVATE
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src
  $<TARGET_PROPERTY:pugixml::pugixml,INTERFACE_INCLUDE_DIRECTORIES>)
target_link_libraries(annoxml_native_package PRIVATE ${ANNOXML_PUGIXML_STATIC} annoxml_png
                      nlohmann_json::nlohmann_json Threads::Threads annoxml_warnings)
target_compile_definitions(annoxml_native_package PRIVATE ANNOXML_BUILDING)
set(ANNOXML_EXPORT_MAP ${PROJECT_SOURCE_DIR}/cmake/native_package.map)
target_link_options(annoxml_native_package PRIVATE
  -static-libstdc++ -static-libgcc -Wl,--no-undefined -Wl,--version-script=${ANNOXML_EXPORT_MAP}
  $<$<CONFIG:Release>:-s>)
set_target_properties(annoxml_native_package PROPERTIES
  OUTPUT_NAME annoxml
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/native-package
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  LINK_DEPENDS ${ANNOXML_EXPORT_MAP})
