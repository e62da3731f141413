# Build settings of the Windows DLLs and the helpers that declare them.
#
# Morvane is a 32-bit program: the DLLs use SSE2 maths (the compiler's default is x87, whose
# excess precision would change results), carry their C and C++ runtimes inside (-static, so
# they import only Windows system DLLs) and export only their entry points, undecorated cdecl.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  message(FATAL_ERROR "the Windows build needs a MinGW-w64 toolchain file (cmake/windows/mingw-*.cmake)")
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-msse2 -mfpmath=sse)
endif()
add_compile_options(-Wall -Wextra)
if(MV_WERROR)
  add_compile_options(-Werror)
endif()
add_link_options(-static -static-libgcc -static-libstdc++)
# windows.h without its min/max macros and the rarely used parts.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

find_package(Threads REQUIRED)
find_library(MV_FFTW3F fftw3f REQUIRED)
find_library(MV_FPARSER fparser REQUIRED)
find_path(MV_FPARSER_INCLUDE fparser.hh REQUIRED)
find_path(MV_FFTW_INCLUDE fftw3.h REQUIRED)

# mv_add_dll(NAME name [MAGIC 0x...] [MEMBER_SIZE 4|12|16] [NO_SDK] [DEF file.def] [OUTPUT_DIR dir]
#            SOURCES ... [LIBS ...])
# plugins/NAME.dll, the SDK compiled in with the module's own magic and member-reference size, the
# platform compiled in as the Windows API. Only what is marked dllexport is exported, or what the
# .def file names (the sequencer's `main`, which C++ cannot declare under that name).
function(mv_add_dll)
  cmake_parse_arguments(P "NO_SDK" "NAME;MAGIC;MEMBER_SIZE;DEF;OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  if(NOT P_MEMBER_SIZE)
    set(P_MEMBER_SIZE 12)
  endif()
  if(NOT P_OUTPUT_DIR)
    set(P_OUTPUT_DIR ${MV_PLUGIN_DIR})
  endif()
  add_library(${P_NAME} SHARED ${P_SOURCES} ${P_DEF})
  set_target_properties(${P_NAME} PROPERTIES PREFIX "" OUTPUT_NAME ${P_NAME}
    RUNTIME_OUTPUT_DIRECTORY ${P_OUTPUT_DIR}
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  # No import library: nothing links against a plug-in.
  target_link_options(${P_NAME} PRIVATE -Wl,--no-undefined -Wl,--enable-stdcall-fixup)
  if(NOT P_NO_SDK)
    target_sources(${P_NAME} PRIVATE ${MV_ROOT}/mv_sdk2/src/mv_module.cpp ${MV_ROOT}/mv_sdk2/src/mv_gui.cpp)
    target_compile_definitions(${P_NAME} PRIVATE MV_MODULE_MAGIC=${P_MAGIC} MV_PROCESS_MEMBER_SIZE=${P_MEMBER_SIZE})
  endif()
  target_include_directories(${P_NAME} PRIVATE ${MV_ROOT}/mv_sdk2/include)
  target_link_libraries(${P_NAME} PRIVATE ${P_LIBS} mv_platform)
  set_property(GLOBAL APPEND PROPERTY MV_DLLS ${P_NAME})
endfunction()
