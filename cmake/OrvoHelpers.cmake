# Assembly of the library from the subsystems' object libraries.
#
#   orvoaudio          shared library (liborvoaudio.so / OrvoAudio.dll), real platform back ends
#   orvoaudio_static   the same objects as a static library, for tools that use internal classes
#   orvoaudio_virtual  the same objects with the deterministic virtual back ends, for tests
#
# Subsystems call orvo_add_library_objects(target) for platform-independent objects; the platform
# layer calls orvo_set_platform_objects(REAL target... VIRTUAL target...).

include(${CMAKE_CURRENT_LIST_DIR}/OrvoWindows.cmake)

set_property(GLOBAL PROPERTY ORVO_LIBRARY_OBJECTS "")
set_property(GLOBAL PROPERTY ORVO_REAL_PLATFORM "")
set_property(GLOBAL PROPERTY ORVO_VIRTUAL_PLATFORM "")

# An object library of library code: public headers, export definitions, hidden visibility.
function(orvo_object_library name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  target_compile_definitions(${name} PRIVATE ORVO_BUILDING_LIBRARY)
endfunction()

function(orvo_add_library_objects)
  set_property(GLOBAL APPEND PROPERTY ORVO_LIBRARY_OBJECTS ${ARGN})
endfunction()

function(orvo_set_platform_objects)
  cmake_parse_arguments(P "" "" "REAL;VIRTUAL" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY ORVO_REAL_PLATFORM ${P_REAL})
  set_property(GLOBAL APPEND PROPERTY ORVO_VIRTUAL_PLATFORM ${P_VIRTUAL})
endfunction()

function(orvo_assemble_libraries)
  get_property(objects GLOBAL PROPERTY ORVO_LIBRARY_OBJECTS)
  get_property(real GLOBAL PROPERTY ORVO_REAL_PLATFORM)
  get_property(virtual GLOBAL PROPERTY ORVO_VIRTUAL_PLATFORM)

  add_library(orvoaudio SHARED)
  add_library(OrvoAudio::orvoaudio ALIAS orvoaudio)
  target_link_libraries(orvoaudio PRIVATE ${objects} ${real} Threads::Threads)
  target_include_directories(orvoaudio PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(orvoaudio PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  if(WIN32)
    orvo_configure_windows_dll(orvoaudio)
  else()
    # Only the public names leave the shared library, whatever the compiler instantiates.
    set(map ${PROJECT_SOURCE_DIR}/cmake/orvoaudio.map)
    target_link_options(orvoaudio PRIVATE "LINKER:--version-script=${map}")
    # Every symbol resolved at link time, except under sanitizers, whose runtime clang links only
    # into executables.
    if(NOT ORVO_SANITIZE)
      target_link_options(orvoaudio PRIVATE "LINKER:--no-undefined")
    endif()
    set_property(TARGET orvoaudio APPEND PROPERTY LINK_DEPENDS ${map})
  endif()

  foreach(kind static virtual)
    set(lib orvoaudio_${kind})
    add_library(${lib} STATIC)
    if(kind STREQUAL "static")
      target_link_libraries(${lib} PUBLIC ${objects} ${real} Threads::Threads)
    else()
      target_link_libraries(${lib} PUBLIC ${objects} ${virtual} Threads::Threads)
    endif()
    target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${lib} INTERFACE ORVO_STATIC)
  endforeach()
endfunction()
