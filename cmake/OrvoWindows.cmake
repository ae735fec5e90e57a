# Windows specifics of OrvoAudio.dll: the module definition file and the DLL's own sources.
#
# The export table is written from tests/exports/expected_symbols.txt, the list that the shared
# library on Linux is checked against, so both platforms export the same names:
#   - every C function and variable under its plain, undecorated name;
#   - the C++ leftovers under their g++ names (for clients built with mingw-w64 from our headers)
#     and under the MSVC-decorated names that a host built with Visual C++ imports, mapped onto
#     small adapters with the MSVC calling conventions (win32/msvc_exports.cpp).

set(ORVO_EXPECTED_EXPORTS ${PROJECT_SOURCE_DIR}/tests/exports/expected_symbols.txt)

# MSVC names of the leftovers, by pointer size, and the definitions they stand for.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ORVO_MSVC_CTOR "??0COrvoPlayTalk@@QEAA@XZ")
  set(ORVO_MSVC_ASSIGN "??4COrvoPlayTalk@@QEAAAEAV0@AEBV0@@Z")
else()
  set(ORVO_MSVC_CTOR "??0COrvoPlayTalk@@QAE@XZ")
  set(ORVO_MSVC_ASSIGN "??4COrvoPlayTalk@@QAEAAV0@ABV0@@Z")
endif()
set(ORVO_MSVC_FUNCTION "?fnOrvoPlay@@YAHXZ")
set(ORVO_MSVC_VARIABLE "?nOrvoPlay@@3HA")

# Writes the .def file for `target` into the build tree and returns its path in `out_var`.
function(orvo_write_windows_def target out_var)
  file(STRINGS ${ORVO_EXPECTED_EXPORTS} names REGEX "^[^#]")
  set(has_leftovers OFF)
  set(body "")
  foreach(name ${names})
    string(STRIP "${name}" name)
    if(name STREQUAL "")
      continue()
    endif()
    if(name STREQUAL "nOrvoPlay")
      string(APPEND body "  ${name} DATA\n")
      set(has_leftovers ON)
    else()
      string(APPEND body "  ${name}\n")
    endif()
  endforeach()
  if(has_leftovers)
    string(APPEND body
      "  ${ORVO_MSVC_FUNCTION} = _Z10fnOrvoPlayv\n"
      "  ${ORVO_MSVC_VARIABLE} = nOrvoPlay DATA\n"
      "  ${ORVO_MSVC_CTOR} = orvo_msvc_COrvoPlayTalk_construct\n"
      "  ${ORVO_MSVC_ASSIGN} = orvo_msvc_COrvoPlayTalk_assign\n")
  endif()
  set(def ${CMAKE_CURRENT_BINARY_DIR}/OrvoAudio.def)
  # Written only when it changes, so the DLL is not relinked at every configure.
  file(WRITE ${def}.new "LIBRARY OrvoAudio.dll\nEXPORTS\n${body}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${def}.new ${def})
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${ORVO_EXPECTED_EXPORTS})
  set(${out_var} ${def} PARENT_SCOPE)
  set_property(GLOBAL PROPERTY ORVO_WINDOWS_DEF_FILE ${def})
  set_property(GLOBAL PROPERTY ORVO_WINDOWS_HAS_LEFTOVERS ${has_leftovers})
endfunction()

# Everything OrvoAudio.dll needs beyond the shared objects: entry point, MSVC adapters, exports.
function(orvo_configure_windows_dll target)
  orvo_write_windows_def(${target} def)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/win32/dll_main.cpp ${def})
  get_property(has_leftovers GLOBAL PROPERTY ORVO_WINDOWS_HAS_LEFTOVERS)
  if(has_leftovers)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/win32/msvc_exports.cpp)
  endif()
  target_compile_definitions(${target} PRIVATE ORVO_BUILDING_LIBRARY)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  # OrvoAudio.dll with the import library OrvoAudio.lib, as a Windows host links it.
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME OrvoAudio PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
  # Hosts that build their own import library (lib /def:OrvoAudio.def) get the export list too.
  install(FILES ${def} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()
