# neonvale_layer(NAME DEPENDS <layers> SOURCES <files>): the static library
# neonvale_NAME built from src/NAME/<files>, linking the layers it names
# (and through them every layer below). neonvale_check_layers() then adds
# the build step that refuses an include of a layer not below.

set(NEONVALE_LAYERS "")

function(neonvale_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 LAYER "" "" "DEPENDS;SOURCES")
  list(TRANSFORM LAYER_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/src/${name}/)
  add_library(neonvale_${name} STATIC ${LAYER_SOURCES})
  target_include_directories(neonvale_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  # Layers this one may include: itself, what it names and all they may include.
  set(reach ${name})
  foreach(dependency IN LISTS LAYER_DEPENDS)
    if(dependency)
      target_link_libraries(neonvale_${name} PUBLIC neonvale_${dependency})
      list(APPEND reach ${NEONVALE_REACH_${dependency}})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES reach)
  set(NEONVALE_REACH_${name} ${reach} PARENT_SCOPE)
  set(NEONVALE_LAYERS ${NEONVALE_LAYERS} ${name} PARENT_SCOPE)
endfunction()

function(neonvale_check_layers)
  set(rules "")
  foreach(layer IN LISTS NEONVALE_LAYERS)
    list(JOIN NEONVALE_REACH_${layer} "," reach)
    list(APPEND rules "${layer}=${reach}")
  endforeach()
  list(JOIN rules "|" rules)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.hpp)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/layers.checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} "-DRULES=${rules}" -DROOT=${PROJECT_SOURCE_DIR}/src -DSTAMP=${stamp}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    COMMENT "Checking that includes follow the layers" VERBATIM)
  add_custom_target(neonvale_layer_check DEPENDS ${stamp})
  foreach(layer IN LISTS NEONVALE_LAYERS)
    add_dependencies(neonvale_${layer} neonvale_layer_check)
  endforeach()
endfunction()
