# Project-wide build settings and the helpers every directory uses to declare plug-ins and tests.

if(MV_BUILD_32)
  set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
  set(CMAKE_SYSTEM_PROCESSOR i686)
  list(PREPEND CMAKE_PREFIX_PATH /usr/lib/i386-linux-gnu)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
  set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB64_PATHS OFF)
  set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
  add_compile_options(-m32 -msse2 -mfpmath=sse)
  add_link_options(-m32)

  # Some kernels have no 32-bit support, and every i386 program fails there with "Exec format
  # error". The test programs then run under qemu-i386 (ctest and the test discovery prepend
  # CMAKE_CROSSCOMPILING_EMULATOR), and tests that start a 32-bit program themselves put the same
  # emulator in front of it: they read it from MV_EXEC_PREFIX in their environment, as does the
  # validator when it runs itself again. MV_FORCE_EMULATOR takes the emulator path on a kernel that
  # would run the programs natively, so that path can be tried anywhere.
  option(MV_FORCE_EMULATOR "Run the 32-bit test programs under qemu-i386 even where they run natively" OFF)
  set(MV_RUN32_RESULT "")
  if(NOT MV_FORCE_EMULATOR)
    try_run(MV_RUN32_RESULT MV_RUN32_COMPILED ${CMAKE_BINARY_DIR}/run32_probe ${CMAKE_SOURCE_DIR}/cmake/run32_probe.c
      COMPILE_DEFINITIONS -m32 LINK_OPTIONS -m32)
  endif()
  if(MV_FORCE_EMULATOR OR NOT MV_RUN32_RESULT STREQUAL "0")
    find_program(MV_QEMU_I386 qemu-i386)
    if(NOT MV_QEMU_I386)
      message(FATAL_ERROR "32-bit programs do not run here and qemu-i386 is missing (tools/install-deps --i386 installs qemu-user)")
    endif()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${MV_QEMU_I386})
    set(MV_EXEC_PREFIX ${MV_QEMU_I386})
    if(MV_FORCE_EMULATOR)
      set(mv_run_mode "under ${MV_QEMU_I386} (forced with MV_FORCE_EMULATOR)")
    else()
      set(mv_run_mode "under ${MV_QEMU_I386} (this kernel does not run 32-bit programs)")
    endif()
  else()
    set(MV_EXEC_PREFIX "")
    set(mv_run_mode "natively")
  endif()
  message(STATUS "32-bit programs run ${mv_run_mode}")
  file(WRITE ${CMAKE_BINARY_DIR}/run-mode.txt "32-bit test programs run ${mv_run_mode}\n")
endif()
if(NOT DEFINED MV_EXEC_PREFIX)
  set(MV_EXEC_PREFIX "")
endif()

# Our warnings go on our targets only (mv_target_warnings), not on every compile in the tree: probes
# such as try_run and code built from outside the project keep their own flags.
add_library(mv_warnings INTERFACE)
target_compile_options(mv_warnings INTERFACE -Wall -Wextra $<$<BOOL:${MV_WERROR}>:-Werror>)

# mv_target_warnings(target...) : the project's warnings (and -Werror with MV_WERROR) for these targets.
function(mv_target_warnings)
  foreach(t ${ARGN})
    target_link_libraries(${t} PRIVATE mv_warnings)
  endforeach()
endfunction()

# The 32-bit flags above and the sanitizers below stay global: every object in a program must be
# built for the same architecture and with the same instrumentation.
if(MV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
include(GoogleTest)

# mv_add_plugin(NAME name MAGIC 0x... [MEMBER_SIZE 4|12|16] [DEBUG_CHECKS | DEBUG_BUILD_CHECKS] [NO_SDK]
#               [ENTRY main] SOURCES ... [LIBS ...])
# Builds plugins/NAME.so exporting only its entry points. The SDK sources are compiled into each
# plug-in with the plug-in's own magic and layout constants. DEBUG_CHECKS compiles the SDK's debug
# checks in always (test modules); DEBUG_BUILD_CHECKS only into the Debug build, as the modules whose
# copy of the SDK carries them have it.
function(mv_add_plugin)
  cmake_parse_arguments(P "DEBUG_CHECKS;DEBUG_BUILD_CHECKS;NO_SDK;TEST_ONLY" "NAME;MAGIC;MEMBER_SIZE;ENTRY;OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  if(NOT P_MEMBER_SIZE)
    set(P_MEMBER_SIZE 12)
  endif()
  if(NOT P_OUTPUT_DIR)
    set(P_OUTPUT_DIR ${MV_PLUGIN_DIR})
  endif()
  add_library(${P_NAME} MODULE ${P_SOURCES})
  mv_target_warnings(${P_NAME})
  set_target_properties(${P_NAME} PROPERTIES
    PREFIX "" OUTPUT_NAME ${P_NAME}
    LIBRARY_OUTPUT_DIRECTORY ${P_OUTPUT_DIR}
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(P_ENTRY STREQUAL "main")
    set(script ${CMAKE_SOURCE_DIR}/cmake/exports_v1.map)
  else()
    set(script ${CMAKE_SOURCE_DIR}/cmake/exports.map)
  endif()
  target_link_options(${P_NAME} PRIVATE -Wl,--version-script=${script} -Wl,--no-undefined)
  if(NOT P_NO_SDK)
    target_link_libraries(${P_NAME} PRIVATE mv_sdk2)
    target_compile_definitions(${P_NAME} PRIVATE MV_MODULE_MAGIC=${P_MAGIC} MV_PROCESS_MEMBER_SIZE=${P_MEMBER_SIZE})
    if(P_DEBUG_CHECKS)
      target_compile_definitions(${P_NAME} PRIVATE MV_SDK_DEBUG_CHECKS=1)
    elseif(P_DEBUG_BUILD_CHECKS)
      target_compile_definitions(${P_NAME} PRIVATE $<$<CONFIG:Debug>:MV_SDK_DEBUG_CHECKS=1>)
    endif()
  else()
    target_include_directories(${P_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/mv_sdk2/include)
  endif()
  target_link_libraries(${P_NAME} PRIVATE mv_platform ${P_LIBS})
  if(NOT P_TEST_ONLY)
    set_property(GLOBAL APPEND PROPERTY MV_PLUGINS ${P_NAME})
  endif()
endfunction()

# mv_add_test(NAME name SOURCES ... [LIBS ...]) : a GoogleTest program registered with ctest.
# Tests find the plug-ins through MV_PLUGIN_DIR and fixtures through MV_SOURCE_DIR.
function(mv_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;DEPENDS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  mv_target_warnings(${T_NAME})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/testing/include)
  target_compile_definitions(${T_NAME} PRIVATE
    MV_PLUGIN_DIR="${MV_PLUGIN_DIR}" MV_SOURCE_DIR="${CMAKE_SOURCE_DIR}" MV_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(T_DEPENDS)
    add_dependencies(${T_NAME} ${T_DEPENDS})
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ENVIRONMENT "MV_EXEC_PREFIX=${MV_EXEC_PREFIX}")
endfunction()
