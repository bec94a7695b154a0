# The Windows build's tests (included from tests/CMakeLists.txt), run under wine by
# scripts/test-windows: the tests of the readers, the conversion, util, the platform layer and
# the rest of the library (frame model, catalog, data-set writer, pipeline, previews, statistics,
# masks, YOLO, eval, agree) linked with the library statically, and the C boundary's test linked
# with annoxml.dll. POSIX-only tests (output files on FIFOs, links and umask; declared encodings,
# which need iconv) stay out.
#
# Wine shows the host's root folder as drive Z:, so that is where the test data is found.
set(ANNOXML_TEST_DATA_DIR "Z:${CMAKE_CURRENT_SOURCE_DIR}/data" CACHE STRING
    "The test data folder as the Windows tests see it")

add_executable(annoxml_tests ${ANNOXML_CORE_TESTS} ${ANNOXML_LIBRARY_TESTS})
target_include_directories(annoxml_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
                           ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(annoxml_tests PRIVATE annoxml_library PNG::PNG GTest::gtest GTest::gmock
                      GTest::gtest_main annoxml_warnings)
target_compile_definitions(annoxml_tests PRIVATE ANNOXML_TEST_DATA="${ANNOXML_TEST_DATA_DIR}")

add_executable(annoxml_boundary_tests native_boundary_test.cpp dataset_boundary_test.cpp)
target_include_directories(annoxml_boundary_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
                           ${PROJECT_SOURCE_DIR}/managed/native)
target_link_libraries(annoxml_boundary_tests PRIVATE annoxml pugixml::pugixml
                      nlohmann_json::nlohmann_json GTest::gtest GTest::gtest_main annoxml_warnings)
target_include_directories(annoxml_boundary_tests PRIVATE ${PROJECT_SOURCE_DIR}/include)

foreach(tests annoxml_tests annoxml_boundary_tests)
  target_compile_options(${tests} PRIVATE ${ANNOXML_TEST_OPTIMIZATION})
endforeach()
set_target_properties(annoxml_tests annoxml_boundary_tests PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
