# Measuring programs for the capture side of the talk service (not Google Benchmark: they measure
# a running service, per thread and per second).
add_executable(talk_measure_virtual ${CMAKE_CURRENT_SOURCE_DIR}/talk_measure.cpp)
target_link_libraries(talk_measure_virtual PRIVATE orvoaudio_virtual)
target_compile_definitions(talk_measure_virtual PRIVATE ORVO_MEASURE_VIRTUAL)
add_executable(talk_measure_real ${CMAKE_CURRENT_SOURCE_DIR}/talk_measure.cpp)
if(NOT TARGET orvo_tool_common)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/common ${PROJECT_BINARY_DIR}/tools/common)
endif()
target_link_libraries(talk_measure_real PRIVATE orvoaudio orvo_tool_common)
