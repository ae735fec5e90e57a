# The display layer's back ends (included from media/CMakeLists.txt).
#   orvo_display_none     the library's own driver on hosts without a built-in display
#   orvo_display_virtual  in-memory surfaces for the tests (in orvoaudio_virtual)
#   orvo_display_sdl      an SDL2 window; a separate static library, so the shared library never
#                         depends on SDL2. Programs that want it link it and pass its driver.
set(display_dir ${PROJECT_SOURCE_DIR}/platform)

orvo_object_library(orvo_display_none ${display_dir}/display/display_none.cpp)
orvo_object_library(orvo_display_virtual ${display_dir}/virtual/display_virtual.cpp)
if(WIN32 AND EXISTS ${display_dir}/win32/display_ddraw.cpp)
  # Windows brings its own display driver (DirectDraw) with the rest of its back ends.
  orvo_set_platform_objects(VIRTUAL orvo_display_virtual)
else()
  orvo_set_platform_objects(REAL orvo_display_none VIRTUAL orvo_display_virtual)
endif()

find_package(SDL2 CONFIG QUIET)
if(SDL2_FOUND AND TARGET SDL2::SDL2)
  add_library(orvo_display_sdl STATIC ${display_dir}/sdl/display_sdl.cpp)
  target_include_directories(orvo_display_sdl PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(orvo_display_sdl PUBLIC SDL2::SDL2)
  set(ORVO_HAVE_SDL2 ON CACHE INTERNAL "The SDL2 display back end is built")
else()
  set(ORVO_HAVE_SDL2 OFF CACHE INTERNAL "The SDL2 display back end is built")
endif()
