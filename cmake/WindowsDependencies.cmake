# The codec libraries of the Windows module, built from Debian's source
# packages as static libraries for the cross toolchain in use:
#   zlib, libpng (against our zlib), libjpeg-turbo (with SIMD) and giflib.
# Each package is fetched with `apt-get source --download-only` (apt checks
# the files against the signed Sources index; it needs a deb-src entry for
# bookworm main, which `make deps` adds), unpacked with `dpkg-source -x` so
# that Debian's patches apply, built once and installed into
# ${ZAN_DEPS_DIR}/prefix. A stamp per library records the package version
# and the compiler flags: a later configure with the same inputs reuses what
# is there and neither fetches nor builds again.
#
# Defines the imported targets ZLIB::ZLIB, PNG::PNG, JPEG::JPEG and GIF::GIF,
# each a static library by its full path.

set(ZAN_DEPS_DIR "${CMAKE_BINARY_DIR}/deps" CACHE PATH "Where the Windows codec libraries are fetched and built")
set(ZAN_DEPS_JOBS 2 CACHE STRING "Parallel jobs for building the codec libraries")

set(_zan_prefix "${ZAN_DEPS_DIR}/prefix")
set(_zan_flags "-O2 ${CMAKE_C_FLAGS_INIT}")
file(MAKE_DIRECTORY "${ZAN_DEPS_DIR}/download" "${ZAN_DEPS_DIR}/src" "${ZAN_DEPS_DIR}/build"
     "${_zan_prefix}/include" "${_zan_prefix}/lib")

function(_zan_run what)
  cmake_parse_arguments(R "" "WORKING_DIRECTORY" "COMMAND" ${ARGN})
  set(log "${ZAN_DEPS_DIR}/build/${what}.log")
  execute_process(COMMAND ${R_COMMAND} WORKING_DIRECTORY "${R_WORKING_DIRECTORY}"
                  RESULT_VARIABLE rc OUTPUT_FILE "${log}" ERROR_FILE "${log}.err")
  if(NOT rc EQUAL 0)
    file(READ "${log}.err" err)
    message(FATAL_ERROR "Windows dependencies: ${what} failed (${rc}); see ${log}\n${err}")
  endif()
endfunction()

# Fetches and unpacks one source package; sets <var> to the unpacked folder
# and <var>_VERSION to the package version.
function(zan_deb_source package var)
  set(stamp "${ZAN_DEPS_DIR}/src/${package}.stamp")
  if(EXISTS "${stamp}")
    file(STRINGS "${stamp}" lines)
    list(GET lines 0 dir)
    list(GET lines 1 version)
    if(EXISTS "${dir}")
      set(${var} "${dir}" PARENT_SCOPE)
      set(${var}_VERSION "${version}" PARENT_SCOPE)
      return()
    endif()
  endif()
  set(download "${ZAN_DEPS_DIR}/download/${package}")
  file(REMOVE_RECURSE "${download}")
  file(MAKE_DIRECTORY "${download}")
  message(STATUS "Fetching Debian source package ${package}")
  execute_process(COMMAND apt-get source --download-only -qq -o APT::Sandbox::User=root ${package}
                  WORKING_DIRECTORY "${download}" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  file(GLOB dsc "${download}/*.dsc")
  list(LENGTH dsc n)
  if(NOT rc EQUAL 0 OR NOT n EQUAL 1)
    message(FATAL_ERROR "Cannot fetch the Debian source package ${package} (apt-get source: ${rc}). "
                        "It needs a deb-src entry for bookworm main: run `make deps`.\n${err}")
  endif()
  get_filename_component(dscFile "${dsc}" NAME)
  string(REGEX REPLACE "^[^_]*_(.*)\\.dsc$" "\\1" version "${dscFile}")
  set(dir "${ZAN_DEPS_DIR}/src/${package}-${version}")
  file(REMOVE_RECURSE "${dir}")
  _zan_run("unpack-${package}" COMMAND dpkg-source -x "${dsc}" "${dir}" WORKING_DIRECTORY "${download}")
  file(WRITE "${stamp}" "${dir}\n${version}\n")
  set(${var} "${dir}" PARENT_SCOPE)
  set(${var}_VERSION "${version}" PARENT_SCOPE)
endfunction()

# True (in <var>) when the library's stamp matches <key>.
function(_zan_built name key var)
  set(stamp "${_zan_prefix}/${name}.stamp")
  set(${var} FALSE PARENT_SCOPE)
  if(EXISTS "${stamp}")
    file(READ "${stamp}" old)
    if(old STREQUAL key)
      set(${var} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

set(_zan_common_cmake_args
  -G "${CMAKE_GENERATOR}"
  "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}"
  -DCMAKE_BUILD_TYPE=Release
  "-DCMAKE_C_FLAGS=${CMAKE_C_FLAGS_INIT}")

# ---- zlib: its own configure script, for the cross compiler via CHOST -------
zan_deb_source(zlib ZLIB_SRC)
_zan_built(zlib "${ZLIB_SRC_VERSION} ${_zan_flags}" _done)
if(NOT _done)
  message(STATUS "Building zlib ${ZLIB_SRC_VERSION} for ${CMAKE_SYSTEM_PROCESSOR}")
  set(b "${ZAN_DEPS_DIR}/build/zlib")
  file(REMOVE_RECURSE "${b}")
  file(MAKE_DIRECTORY "${b}")
  get_filename_component(_triplet "${CMAKE_C_COMPILER}" NAME)
  string(REGEX REPLACE "-gcc$" "" _triplet "${_triplet}")
  _zan_run(zlib-configure COMMAND ${CMAKE_COMMAND} -E env "CHOST=${_triplet}" "CFLAGS=${_zan_flags}"
           "${ZLIB_SRC}/configure" --static --prefix=${_zan_prefix} WORKING_DIRECTORY "${b}")
  _zan_run(zlib-build COMMAND make -j${ZAN_DEPS_JOBS} libz.a WORKING_DIRECTORY "${b}")
  file(COPY "${b}/libz.a" DESTINATION "${_zan_prefix}/lib")
  file(COPY "${ZLIB_SRC}/zlib.h" "${b}/zconf.h" DESTINATION "${_zan_prefix}/include")
  file(WRITE "${_zan_prefix}/zlib.stamp" "${ZLIB_SRC_VERSION} ${_zan_flags}")
endif()

# ---- libpng: its CMake build, static only, against the zlib above -----------
zan_deb_source(libpng1.6 PNG_SRC)
_zan_built(png "${PNG_SRC_VERSION} ${ZLIB_SRC_VERSION} ${_zan_flags}" _done)
if(NOT _done)
  message(STATUS "Building libpng ${PNG_SRC_VERSION} for ${CMAKE_SYSTEM_PROCESSOR}")
  set(b "${ZAN_DEPS_DIR}/build/libpng")
  file(REMOVE_RECURSE "${b}")
  _zan_run(libpng-configure COMMAND ${CMAKE_COMMAND} -S "${PNG_SRC}" -B "${b}" ${_zan_common_cmake_args}
           -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF
           "-DZLIB_LIBRARY=${_zan_prefix}/lib/libz.a" "-DZLIB_INCLUDE_DIR=${_zan_prefix}/include"
           WORKING_DIRECTORY "${ZAN_DEPS_DIR}/build")
  _zan_run(libpng-build COMMAND ${CMAKE_COMMAND} --build "${b}" --target png_static -j ${ZAN_DEPS_JOBS}
           WORKING_DIRECTORY "${b}")
  file(COPY "${b}/libpng16.a" DESTINATION "${_zan_prefix}/lib")
  file(COPY "${PNG_SRC}/png.h" "${PNG_SRC}/pngconf.h" "${b}/pnglibconf.h" DESTINATION "${_zan_prefix}/include")
  file(WRITE "${_zan_prefix}/png.stamp" "${PNG_SRC_VERSION} ${ZLIB_SRC_VERSION} ${_zan_flags}")
endif()

# ---- libjpeg-turbo: its CMake build with the SIMD code (nasm required) ------
zan_deb_source(libjpeg-turbo JPEG_SRC)
_zan_built(jpeg "${JPEG_SRC_VERSION} ${_zan_flags}" _done)
if(NOT _done)
  message(STATUS "Building libjpeg-turbo ${JPEG_SRC_VERSION} with SIMD for ${CMAKE_SYSTEM_PROCESSOR}")
  set(b "${ZAN_DEPS_DIR}/build/libjpeg-turbo")
  file(REMOVE_RECURSE "${b}")
  _zan_run(libjpeg-turbo-configure COMMAND ${CMAKE_COMMAND} -S "${JPEG_SRC}" -B "${b}" ${_zan_common_cmake_args}
           "-DCMAKE_INSTALL_PREFIX=${_zan_prefix}" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON
           -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
           WORKING_DIRECTORY "${ZAN_DEPS_DIR}/build")
  _zan_run(libjpeg-turbo-build COMMAND ${CMAKE_COMMAND} --build "${b}" --target jpeg-static -j ${ZAN_DEPS_JOBS}
           WORKING_DIRECTORY "${b}")
  file(COPY "${b}/libjpeg.a" DESTINATION "${_zan_prefix}/lib")
  file(COPY "${JPEG_SRC}/jpeglib.h" "${JPEG_SRC}/jmorecfg.h" "${JPEG_SRC}/jerror.h" "${b}/jconfig.h"
       DESTINATION "${_zan_prefix}/include")
  file(WRITE "${_zan_prefix}/jpeg.stamp" "${JPEG_SRC_VERSION} ${_zan_flags}")
endif()

# ---- giflib: its Makefile's libgif.a target, in a copy of the source --------
zan_deb_source(giflib GIF_SRC)
_zan_built(gif "${GIF_SRC_VERSION} ${_zan_flags}" _done)
if(NOT _done)
  message(STATUS "Building giflib ${GIF_SRC_VERSION} for ${CMAKE_SYSTEM_PROCESSOR}")
  set(b "${ZAN_DEPS_DIR}/build/giflib")
  file(REMOVE_RECURSE "${b}")
  file(COPY "${GIF_SRC}/" DESTINATION "${b}")
  _zan_run(giflib-build COMMAND make -j${ZAN_DEPS_JOBS} libgif.a "CC=${CMAKE_C_COMPILER}" "AR=${CMAKE_AR}"
           "OFLAGS=${_zan_flags}" WORKING_DIRECTORY "${b}")
  file(COPY "${b}/libgif.a" DESTINATION "${_zan_prefix}/lib")
  file(COPY "${GIF_SRC}/gif_lib.h" DESTINATION "${_zan_prefix}/include")
  file(WRITE "${_zan_prefix}/gif.stamp" "${GIF_SRC_VERSION} ${_zan_flags}")
endif()

# ---- imported targets, by full path -----------------------------------------
function(_zan_import target file)
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${_zan_prefix}/lib/${file}"
                                             INTERFACE_INCLUDE_DIRECTORIES "${_zan_prefix}/include")
endfunction()
_zan_import(ZLIB::ZLIB libz.a)
_zan_import(PNG::PNG libpng16.a)
set_property(TARGET PNG::PNG PROPERTY INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)
_zan_import(JPEG::JPEG libjpeg.a)
_zan_import(GIF::GIF libgif.a)
message(STATUS "Windows codec libraries: zlib ${ZLIB_SRC_VERSION}, libpng ${PNG_SRC_VERSION}, "
               "libjpeg-turbo ${JPEG_SRC_VERSION}, giflib ${GIF_SRC_VERSION}")
