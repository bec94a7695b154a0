# libpng and zlib compiled from Debian's source packages (scripts/fetch-debian-source unpacks
# them into ANNOXML_DEPS_DIR): static and position-independent, for the Windows build and for the
# NuGet package's libannoxml.so, which cannot link Debian's libpng16.a (it is not PIC).
# Defines annoxml_png (with zlib in it): what the mask writer needs, nothing installed.
enable_language(C)

function(annoxml_fetch_debian_source package out_var)
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-debian-source ${package} ${ANNOXML_DEPS_DIR}
    OUTPUT_VARIABLE fetched OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE fetch_result)
  if(NOT fetch_result EQUAL 0)
    message(FATAL_ERROR "scripts/fetch-debian-source ${package} failed; run scripts/setup first")
  endif()
  set(${out_var} ${fetched} PARENT_SCOPE)
endfunction()

set(ANNOXML_ZLIB_SOURCE_DIR "" CACHE PATH "Unpacked zlib sources (empty: fetch Debian's)")
set(ANNOXML_LIBPNG_SOURCE_DIR "" CACHE PATH "Unpacked libpng sources (empty: fetch Debian's)")
foreach(dependency ZLIB:zlib1g-dev LIBPNG:libpng-dev)
  string(REPLACE ":" ";" pair ${dependency})
  list(GET pair 0 name)
  list(GET pair 1 package)
  if(NOT ANNOXML_${name}_SOURCE_DIR)
    annoxml_fetch_debian_source(${package} fetched)
    set(ANNOXML_${name}_SOURCE_DIR ${fetched} CACHE PATH "Unpacked ${package} sources" FORCE)
  endif()
endforeach()

# What writing PNG files needs of zlib: deflate and its checksums, no gz* file functions.
set(zlib_dir ${ANNOXML_ZLIB_SOURCE_DIR})
add_library(annoxml_zlib STATIC
  ${zlib_dir}/adler32.c ${zlib_dir}/compress.c ${zlib_dir}/crc32.c ${zlib_dir}/deflate.c
  ${zlib_dir}/infback.c ${zlib_dir}/inffast.c ${zlib_dir}/inflate.c ${zlib_dir}/inftrees.c
  ${zlib_dir}/trees.c ${zlib_dir}/uncompr.c ${zlib_dir}/zutil.c)
target_include_directories(annoxml_zlib SYSTEM PUBLIC ${zlib_dir})

# libpng's configuration as its release ships it; the host's pnglibconf.h must not be used.
set(png_dir ${ANNOXML_LIBPNG_SOURCE_DIR})
set(png_config_dir ${ANNOXML_DEPS_DIR}/libpng-config)
configure_file(${png_dir}/scripts/pnglibconf.h.prebuilt ${png_config_dir}/pnglibconf.h COPYONLY)
set(png_sources png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset
    pngtrans pngwio pngwrite pngwtran pngwutil)
list(TRANSFORM png_sources PREPEND ${png_dir}/)
list(TRANSFORM png_sources APPEND .c)
add_library(annoxml_png STATIC ${png_sources})
target_include_directories(annoxml_png SYSTEM PUBLIC ${png_dir} ${png_config_dir})
target_link_libraries(annoxml_png PUBLIC annoxml_zlib)
# No hand-written SIMD filters: they only speed up reading.
target_compile_definitions(annoxml_png PRIVATE PNG_ARM_NEON_OPT=0 PNG_INTEL_SSE_OPT=0
                           PNG_POWERPC_VSX_OPT=0 PNG_MIPS_MSA_OPT=0)
set_target_properties(annoxml_zlib annoxml_png PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  C_VISIBILITY_PRESET hidden)
