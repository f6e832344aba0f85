# The store's table of container formats: every source of store/formats/ joins the store's
# library, and each file named <order>_<format>.cpp is one entry of the table,
# k<Format>ImageFormat (10_pe.cpp: kPeImageFormat), taken in the order of the numbers; the
# last entry (ELF) reads every file no other format claims. The table is written to
# store/format_table.hpp under generated_dir, so a new format adds its files and edits none.
# Sets sources_var to the sources of formats/. Used by store/CMakeLists.txt and the fuzzing
# project, which compiles the readers itself.
#   kelvo_store_formats(sources_var generated_dir)
function(kelvo_store_formats sources_var generated_dir)
  set(formats_dir ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/formats)
  file(GLOB sources CONFIGURE_DEPENDS ${formats_dir}/*.cpp)
  set(entries "")
  foreach(source IN LISTS sources)
    get_filename_component(file_name ${source} NAME)
    if(file_name MATCHES "^[0-9]+_[a-z0-9]+\\.cpp$")
      list(APPEND entries ${file_name})
    endif()
  endforeach()
  list(SORT entries COMPARE NATURAL)
  if(NOT entries)
    message(FATAL_ERROR "store/formats/ holds no format (<order>_<format>.cpp)")
  endif()
  set(declarations "")
  set(table "")
  foreach(file_name IN LISTS entries)
    string(REGEX REPLACE "^[0-9]+_([a-z0-9]+)\\.cpp$" "\\1" format ${file_name})
    string(SUBSTRING ${format} 0 1 first)
    string(SUBSTRING ${format} 1 -1 rest)
    string(TOUPPER ${first} first)
    set(entry "k${first}${rest}ImageFormat")
    string(APPEND declarations "extern const TImageFormat ${entry};  // formats/${file_name}\n")
    string(APPEND table "    &${entry},\n")
  endforeach()
  file(GENERATE OUTPUT ${generated_dir}/store/format_table.hpp CONTENT
"// The store's table of container formats, written by store/formats.cmake from the files of
// store/formats/ in the order of their numbers.
#pragma once

#include \"store/formats.hpp\"

${declarations}
inline constexpr const TImageFormat* kImageFormats[] = {
${table}};
")
  set(${sources_var} ${sources} PARENT_SCOPE)
endfunction()
