# RTP framing: sender, parser, receive checks and ordering, SDP reader (internal classes: static
# objects with the virtual back ends, no device is opened).
add_executable(rtp_bench ${CMAKE_CURRENT_SOURCE_DIR}/rtp_bench.cpp)
target_link_libraries(rtp_bench PRIVATE orvoaudio_virtual benchmark::benchmark)
