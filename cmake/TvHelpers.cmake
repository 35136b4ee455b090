# Build helpers shared by every layer.

# Warnings as errors for our own code.
function(tv_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    -Wno-missing-field-initializers)
endfunction()

# One static library per layer. Every source below DIR belongs to the layer;
# sources below a "Ui" folder go to the layer's widget library NAME_ui, which
# links the logic library. Widgets stay out of the logic library.
function(tv_add_layer name dir)
  cmake_parse_arguments(ARG "" "" "LIBS;UI_LIBS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE all CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.h")
  if(ARG_EXCLUDE)
    list(REMOVE_ITEM all ${ARG_EXCLUDE})
  endif()
  set(logic "")
  set(ui "")
  foreach(f IN LISTS all)
    if(f MATCHES "/Ui/")
      list(APPEND ui ${f})
    else()
      list(APPEND logic ${f})
    endif()
  endforeach()
  add_library(${name} STATIC ${logic})
  target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  tv_strict_warnings(${name})
  if(ui)
    add_library(${name}_ui STATIC ${ui})
    target_link_libraries(${name}_ui PUBLIC ${name} Qt6::Widgets ${ARG_UI_LIBS})
    tv_strict_warnings(${name}_ui)
  else()
    add_library(${name}_ui INTERFACE)
    target_link_libraries(${name}_ui INTERFACE ${name} Qt6::Widgets ${ARG_UI_LIBS})
  endif()
endfunction()

# Every executable we build carries its file version in an ELF note
# (section ".note.tarvolin.version", owner "Tarvolin", type 1, the text
# "%u.%u.%u.%u"), so another process can read the version from the file.
function(tv_add_version_note target)
  set(out "${CMAKE_BINARY_DIR}/version_note/${target}_version_note.c")
  set(TV_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")
  if(TV_VERSION_TEXT MATCHES "\\.$")
    set(TV_VERSION_TEXT "${TV_VERSION_TEXT}0")
  endif()
  configure_file("${CMAKE_SOURCE_DIR}/cmake/version_note.c.in" "${out}" @ONLY)
  target_sources(${target} PRIVATE "${out}")
endfunction()
