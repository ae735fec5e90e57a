# orvo_bench_voice: every codec type through the public functions, encode and decode at 160 and
# 480 samples per frame, in ns per sample; plus the peers whose development packages are found.
file(GLOB voice_bench_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/voice_*.cpp)
add_executable(orvo_bench_voice ${voice_bench_sources})
target_link_libraries(orvo_bench_voice PRIVATE orvoaudio benchmark::benchmark)

if(PkgConfig_FOUND)
  pkg_check_modules(ORVO_PEER_SPANDSP QUIET IMPORTED_TARGET spandsp)
  pkg_check_modules(ORVO_PEER_FFMPEG QUIET IMPORTED_TARGET libavcodec libavutil)
endif()
if(ORVO_PEER_SPANDSP_FOUND)
  target_link_libraries(orvo_bench_voice PRIVATE PkgConfig::ORVO_PEER_SPANDSP)
  target_compile_definitions(orvo_bench_voice PRIVATE ORVO_BENCH_HAVE_SPANDSP)
endif()
if(ORVO_PEER_FFMPEG_FOUND)
  target_link_libraries(orvo_bench_voice PRIVATE PkgConfig::ORVO_PEER_FFMPEG)
  target_compile_definitions(orvo_bench_voice PRIVATE ORVO_BENCH_HAVE_FFMPEG)
endif()
message(STATUS "voice benchmark peers: spandsp ${ORVO_PEER_SPANDSP_FOUND}, libavcodec ${ORVO_PEER_FFMPEG_FOUND}")
