# zel_library(<name> <folder>...): a static library of every source in the given folders.
# Sources are globbed so a new file needs no edit here; main.cpp is the application's own.
function(zel_library name)
  set(sources)
  foreach(dir ${ARGN})
    file(GLOB found CONFIGURE_DEPENDS
      ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h ${CMAKE_SOURCE_DIR}/${dir}/*.ui)
    list(APPEND sources ${found})
  endforeach()
  list(FILTER sources EXCLUDE REGEX ".*/core/main\\.cpp$")
  if(NOT sources)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp "// placeholder for a folder without sources yet\n")
    set(sources ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC Qt5::Widgets Qt5::Network Qt5::Gui Qt5::Core Boost::headers Threads::Threads)
  set_target_properties(${name} PROPERTIES AUTOUIC_SEARCH_PATHS ${CMAKE_SOURCE_DIR}/${ARGV1})
endfunction()
