# The layers of the code base are its CMake targets. Each layer owns folders and files; a file may
# include the headers of its own layer and of the layers its target links directly. The table of
# owned paths and allowed edges is written at configure time from the targets' own links, so a new
# link in CMake is the only way to allow a new include; tests/layering checks every #include.
#
# A link that is needed only to resolve symbols at link time (the core calls the seams' functions
# whose bodies the platform provides) is written as $<LINK_ONLY:target> and allows no include.

# zelk_layer(TARGET PATH...): TARGET owns the folders and files given relative to the current
# source folder. The deepest path owns a file.
function(zelk_layer target)
  foreach(path IN LISTS ARGN)
    get_filename_component(absolute "${path}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set_property(GLOBAL APPEND PROPERTY ZELK_LAYER_PATHS "layer ${target} ${absolute}")
  endforeach()
  set_property(GLOBAL APPEND PROPERTY ZELK_LAYERS ${target})
endfunction()

# zelk_layer_elsewhere(PATH...): folders and files built only for another platform; the check of
# this build skips them, the other platform's build checks them.
function(zelk_layer_elsewhere)
  foreach(path IN LISTS ARGN)
    get_filename_component(absolute "${path}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set_property(GLOBAL APPEND PROPERTY ZELK_LAYER_PATHS "skip ${absolute}")
  endforeach()
endfunction()

# Writes the table once every target is defined.
function(zelk_write_layer_table file)
  get_property(layers GLOBAL PROPERTY ZELK_LAYERS)
  list(REMOVE_DUPLICATES layers)
  get_property(lines GLOBAL PROPERTY ZELK_LAYER_PATHS)
  list(PREPEND lines "root ${PROJECT_SOURCE_DIR}/src" "root ${PROJECT_SOURCE_DIR}/sim")
  foreach(layer IN LISTS layers)
    get_target_property(type ${layer} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${layer} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(links ${layer} LINK_LIBRARIES)
    endif()
    foreach(link IN LISTS links)
      # A $<LINK_ONLY:...> entry is no layer name, so it allows nothing.
      if(link IN_LIST layers)
        list(APPEND lines "link ${layer} ${link}")
      endif()
    endforeach()
  endforeach()
  list(JOIN lines "\n" text)
  file(WRITE "${file}" "${text}\n")
endfunction()
