# The libannoxml.so that the NuGet package carries (runtimes/linux-x64/native/): the readers, the
# COCO conversion and the C boundary, with pugixml, libstdc++ and libgcc linked in, so that it
# needs nothing but glibc. Only the C boundary's functions are exported. The annoxml target, which
# is installed for C++ hosts, stays as it is.
find_library(ANNOXML_PUGIXML_STATIC NAMES libpugixml.a REQUIRED)

# Stopgap until the library's source list is shared: every source of the annoxml target, so that
# the whole-study C boundary links; libpng stays a shared library here.
get_target_property(ANNOXML_NATIVE_PACKAGE_SOURCES annoxml SOURCES)
add_library(annoxml_native_package SHARED ${ANNOXML_NATIVE_PACKAGE_SOURCES})
target_include_directories(annoxml_native_package PRIVATE
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src
  $<TARGET_PROPERTY:pugixml::pugixml,INTERFACE_INCLUDE_DIRECTORIES>)
target_link_libraries(annoxml_native_package PRIVATE ${ANNOXML_PUGIXML_STATIC}
                      nlohmann_json::nlohmann_json annoxml_warnings PNG::PNG Threads::Threads)
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
