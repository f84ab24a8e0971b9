# Helpers that give every variant the same shape.

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

# pel_add_shared(<target> OUTPUT_NAME <file stem> CORE <core> SOURCES <...> EXPORTS <symbols...>)
# A deliverable: the core plus the given sources, exporting exactly EXPORTS.
function(pel_add_shared target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;CORE" "SOURCES;EXPORTS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_CORE})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${ARG_OUTPUT_NAME})
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
  install(TARGETS ${target} LIBRARY DESTINATION lib RUNTIME DESTINATION bin)
endfunction()
