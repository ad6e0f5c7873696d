# tarvix_folder_library(NAME FOLDER SOURCES... [PUBLIC libs...] [PRIVATE libs...])
#
# One library per folder of src/, and the layering the folders keep is the build's: the library
# exposes the headers of its own folder only (through an include root of its own in the build
# tree, holding links to them), and sees the headers of exactly the libraries it links. So an
# include of a folder it does not link, upward or sideways, fails to compile. PUBLIC: libraries
# its headers include; PRIVATE: those only its sources include.
function(tarvix_folder_library name folder)
  cmake_parse_arguments(L "INTERFACE" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  file(MAKE_DIRECTORY ${root}/${folder})
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.h)
  foreach(header ${headers})
    get_filename_component(file ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${folder}/${file} SYMBOLIC)
  endforeach()
  if(L_INTERFACE)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE ${L_PUBLIC})
    return()
  endif()
  add_library(${name} ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${L_PUBLIC} PRIVATE ${L_PRIVATE})
endfunction()
