# Helpers that give every variant the same shape.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# pel_add_core(<name> FUSED ON|OFF)
# An internal object library: the code of one variant, compiled once, linked by
# that variant's shared library and by its tests. FUSED selects the rounding
# policy (explicit fused multiply-add, or every product and sum rounded).
function(pel_add_core name)
  cmake_parse_arguments(ARG "" "FUSED" "" ${ARGN})
  add_library(${name} OBJECT)
  if(ARG_FUSED)
    target_compile_definitions(${name} PUBLIC PELMO_FUSED=1)
  else()
    target_compile_definitions(${name} PUBLIC PELMO_FUSED=0)
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC Eigen3::Eigen nlohmann_json::nlohmann_json)
endfunction()

# pel_add_shared(<target> OUTPUT_NAME <file stem> CORE <core> SOURCES <...> EXPORTS <symbols...>
#                DESCRIPTION <one line for pkg-config>)
# A deliverable: the core plus the given sources, exporting exactly EXPORTS,
# installed with a pkg-config file and as pel::<target> of the CMake package.
function(pel_add_shared target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;CORE;DESCRIPTION" "SOURCES;EXPORTS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  # Linked privately, the core and its Eigen, JSON and zlib stay out of the
  # CMake export and the .pc files: a consumer needs only the plain C header,
  # and the loader brings zlib as the library's own dependency.
  target_link_libraries(${target} PRIVATE ${ARG_CORE})
  target_include_directories(${target} INTERFACE
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # libpel_arm64.so.0.1.0, with the soname libpel_arm64.so.0 and the link name
  # libpel_arm64.so as links to it (libpel_arm64.0.dylib on macOS).
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${ARG_OUTPUT_NAME}
                        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  if(APPLE)
    set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
    list(TRANSFORM ARG_EXPORTS PREPEND "_" OUTPUT_VARIABLE mach_names)
    list(JOIN mach_names "\n" body)
    file(WRITE ${list_file} "${body}\n")
    target_link_options(${target} PRIVATE "LINKER:-exported_symbols_list,${list_file}")
  elseif(NOT WIN32)
    # Visibility already hides the C++ internals; the script also keeps the
    # toolchain's own symbols out of the dynamic table.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    list(JOIN ARG_EXPORTS ";\n    " body)
    file(WRITE ${script} "{\n  global:\n    ${body};\n  local: *;\n};\n")
    target_link_options(${target} PRIVATE "LINKER:--version-script=${script}" "LINKER:--no-undefined")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
  endif()
  install(TARGETS ${target} EXPORT pelTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  pel_install_pkg_config(${target} ${ARG_OUTPUT_NAME} "${ARG_DESCRIPTION}")
endfunction()

# pel_install_pkg_config(<name> <file stem> <description>)
# <name>.pc for the shared library <file stem><platform suffix>. The prefix is
# found relative to the .pc file itself, so the installed tree may be moved.
function(pel_install_pkg_config name stem description)
  set(pc_name ${name})
  set(pc_description "${description}")
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(pc_prefix "${CMAKE_INSTALL_PREFIX}")
    set(pc_libdir "${CMAKE_INSTALL_FULL_LIBDIR}")
    set(pc_includedir "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
  else()
    file(RELATIVE_PATH up "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
    string(REGEX REPLACE "/$" "" up "${up}")
    set(pc_prefix "\${pcfiledir}/${up}")
    set(pc_libdir "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(pc_includedir "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  # The linker finds lib<name> by -l<name>; a file without the prefix (pellib)
  # only by its path.
  set(lib_prefix "${CMAKE_SHARED_LIBRARY_PREFIX}")
  string(FIND "${stem}" "${lib_prefix}" at)
  if(lib_prefix AND at EQUAL 0)
    string(LENGTH "${lib_prefix}" length)
    string(SUBSTRING "${stem}" ${length} -1 link_name)
    set(pc_libs "-L\${libdir} -l${link_name}")
  else()
    set(pc_libs "\${libdir}/${stem}${CMAKE_SHARED_LIBRARY_SUFFIX}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/pel.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

# pel_install_package()
# The CMake package: find_package(pel CONFIG) defines pel::<target> for every
# shared library built here. Call once every library is defined.
function(pel_install_package)
  set(destination ${CMAKE_INSTALL_LIBDIR}/cmake/pel)
  install(EXPORT pelTargets NAMESPACE pel:: DESTINATION ${destination})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/pelConfig.cmake.in
      ${PROJECT_BINARY_DIR}/pelConfig.cmake INSTALL_DESTINATION ${destination})
  # Before 1.0 a minor release may change the interface: 0.1 satisfies only a
  # request for 0.1.x. Becomes SameMajorVersion at 1.0.
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/pelConfigVersion.cmake
      COMPATIBILITY SameMinorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/pelConfig.cmake ${PROJECT_BINARY_DIR}/pelConfigVersion.cmake
          DESTINATION ${destination})
endfunction()
