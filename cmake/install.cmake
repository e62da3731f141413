# `cmake --install build --prefix P`: the tools keep the layout they have in the build tree, under
# P/lib/mvhost, so that they find the plug-ins, the built-ins, the LV2 wrapper and the validator's
# shim beside themselves without --plugins; P/bin holds links to the two commands (the host finds
# its folder through /proc/self/exe, which resolves the link). Every installed library is found
# through $ORIGIN, so the prefix can be moved.
set(MV_INSTALL_ROOT lib/mvhost)
set(MV_INSTALL_RUNPATH "$ORIGIN/../lib:$ORIGIN/..")

get_property(MV_INSTALL_PLUGINS GLOBAL PROPERTY MV_PLUGINS)
get_property(MV_INSTALL_BUILTINS GLOBAL PROPERTY MV_BUILTIN_PLUGINS)
# target -> folder under MV_INSTALL_ROOT; a target this build does not make is left out.
set(MV_INSTALL_PLACES mvhost:bin mvbank:bin mv_platform:lib mv_platform_gtk:lib mv_rt_shim:lib mvhost_lv2:lib/lv2)
foreach(t ${MV_INSTALL_PLUGINS})
  list(APPEND MV_INSTALL_PLACES ${t}:plugins)
endforeach()
foreach(t ${MV_INSTALL_BUILTINS})
  list(APPEND MV_INSTALL_PLACES ${t}:lib/builtin)
endforeach()
foreach(place ${MV_INSTALL_PLACES})
  string(REPLACE ":" ";" place ${place})
  list(GET place 0 t)
  list(GET place 1 dir)
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "${MV_INSTALL_RUNPATH}")
    install(TARGETS ${t} RUNTIME DESTINATION ${MV_INSTALL_ROOT}/${dir} LIBRARY DESTINATION ${MV_INSTALL_ROOT}/${dir})
  endif()
endforeach()
foreach(tool mvhost mvbank)
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(CREATE_LINK ../${MV_INSTALL_ROOT}/bin/${tool} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${tool}\" SYMBOLIC)")
endforeach()

# The LV2 bundles `make lv2` wrote, where LV2 hosts look under a prefix.
install(DIRECTORY ${CMAKE_BINARY_DIR}/lv2/ DESTINATION lib/lv2 OPTIONAL USE_SOURCE_PERMISSIONS)

# Manual pages made from the commands' own help, so they cannot drift from it.
find_program(MV_HELP2MAN help2man)
if(MV_HELP2MAN AND NOT MV_BUILD_32)
  set(MV_MAN_DIR ${CMAKE_BINARY_DIR}/share/man/man1)
  add_custom_command(OUTPUT ${MV_MAN_DIR}/mvhost.1 ${MV_MAN_DIR}/mvbank.1
    COMMAND ${CMAKE_SOURCE_DIR}/tools/make-man $<TARGET_FILE:mvhost> $<TARGET_FILE:mvbank> ${MV_MAN_DIR}
    DEPENDS mvhost mvbank ${CMAKE_SOURCE_DIR}/tools/make-man
    COMMENT "Manual pages for mvhost and mvbank")
  add_custom_target(man ALL DEPENDS ${MV_MAN_DIR}/mvhost.1 ${MV_MAN_DIR}/mvbank.1)
  install(FILES ${MV_MAN_DIR}/mvhost.1 ${MV_MAN_DIR}/mvbank.1 DESTINATION share/man/man1)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/tools/completion/mvhost.bash DESTINATION share/bash-completion/completions
  RENAME mvhost)
install(FILES ${CMAKE_SOURCE_DIR}/tools/completion/mvhost.bash DESTINATION share/bash-completion/completions
  RENAME mvbank)
