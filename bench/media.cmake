# media_bench: the UYVY conversion per picture against libyuv's I420ToUYVY (when installed) and
# memcpy of the output size.
add_executable(media_bench ${CMAKE_CURRENT_SOURCE_DIR}/media_uyvy.cpp)
target_link_libraries(media_bench PRIVATE orvoaudio_static benchmark::benchmark)
find_path(ORVO_LIBYUV_INCLUDE_DIR libyuv.h)
find_library(ORVO_LIBYUV_LIBRARY yuv)
if(ORVO_LIBYUV_INCLUDE_DIR AND ORVO_LIBYUV_LIBRARY)
  target_include_directories(media_bench PRIVATE ${ORVO_LIBYUV_INCLUDE_DIR})
  target_link_libraries(media_bench PRIVATE ${ORVO_LIBYUV_LIBRARY})
  target_compile_definitions(media_bench PRIVATE ORVO_HAVE_LIBYUV)
else()
  message(STATUS "media_bench: libyuv not found, comparing with memcpy only")
endif()
