# SPDX-License-Identifier: Apache-2.0
# One object library per layer of the library. Each layer compiles against an include root
# of its own, built from symbolic links, that shows its own folders and the folders of the
# layers below it and nothing else: a header from a higher layer is simply not there, so an
# upward include fails to build instead of creeping in.
#
#   ccalib_layer(<name> DIRS <folder>... [SOURCES <file>...] [EXCLUDE <regex>]
#                [HEADERS <header>...] [BELOW <layer>...])
#
# DIRS are the layer's folders (relative to the source tree); their *.cc files are its
# sources unless SOURCES lists them explicitly (EXCLUDE drops matches from the glob).
# HEADERS are single headers the layer lends to higher layers instead of whole folders.
# BELOW names the layers it may include; their own BELOW lists are followed.

function(ccalib_layer name)
  cmake_parse_arguments(L "" "EXCLUDE" "DIRS;SOURCES;HEADERS;BELOW" ${ARGN})

  # What it compiles against: its own folders and headers and what the layers below show.
  # What it shows to the layers above: its lent headers (or else its folders) and the same
  # from below.
  set(visible ${L_DIRS} ${L_HEADERS})
  if(L_HEADERS)
    set(shown ${L_HEADERS})
  else()
    set(shown ${L_DIRS})
  endif()
  foreach(below IN LISTS L_BELOW)
    list(APPEND visible ${CCALIB_LAYER_SHOWN_${below}})
    list(APPEND shown ${CCALIB_LAYER_SHOWN_${below}})
  endforeach()
  list(REMOVE_DUPLICATES visible)
  list(REMOVE_DUPLICATES shown)
  set(CCALIB_LAYER_SHOWN_${name} ${shown} CACHE INTERNAL "")

  # The include root: a link per visible folder, or per single header where its folder as
  # a whole is not visible.
  set(root ${PROJECT_BINARY_DIR}/layers/${name})
  file(REMOVE_RECURSE ${root})
  foreach(item IN LISTS visible)
    get_filename_component(parent ${root}/${item} DIRECTORY)
    get_filename_component(item_dir ${item} DIRECTORY)
    if(NOT IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${item} AND item_dir IN_LIST visible)
      continue()  # its whole folder is linked already
    endif()
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${item} ${root}/${item} SYMBOLIC)
  endforeach()

  if(NOT L_SOURCES)
    foreach(dir IN LISTS L_DIRS)
      file(GLOB dir_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cc)
      list(APPEND L_SOURCES ${dir_sources})
    endforeach()
    if(L_EXCLUDE)
      list(FILTER L_SOURCES EXCLUDE REGEX "${L_EXCLUDE}")
    endif()
  endif()

  add_library(ccalib_${name} OBJECT ${L_SOURCES})
  target_compile_features(ccalib_${name} PUBLIC cxx_std_17)
  target_compile_definitions(ccalib_${name} PRIVATE ccalib_EXPORTS)
  target_include_directories(ccalib_${name} PRIVATE ${root} ${PROJECT_BINARY_DIR}/include)
  set_property(GLOBAL APPEND PROPERTY CCALIB_LAYERS ccalib_${name})
endfunction()
