# Fails when a file outside host/src includes one of that folder's headers: drivers and tools use
# the host library only through host/include (the engine API above all).
file(GLOB private_headers RELATIVE ${SOURCE_DIR}/host/src ${SOURCE_DIR}/host/src/*.h)
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/host/*.cpp ${SOURCE_DIR}/host/*.h ${SOURCE_DIR}/modules/*.cpp ${SOURCE_DIR}/modules/*.h
     ${SOURCE_DIR}/platform/*.cpp ${SOURCE_DIR}/platform/*.h ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/fuzz/*.cpp
     ${SOURCE_DIR}/testing/*.h ${SOURCE_DIR}/testing/*.cpp ${SOURCE_DIR}/mv_sdk2/*.cpp ${SOURCE_DIR}/mv_sdk2/*.h)
set(found "")
foreach(source IN LISTS sources)
  if(source MATCHES "^host/src/")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    foreach(header IN LISTS private_headers)
      if(line MATCHES "\"(.*/)?src/${header}\"")
        list(APPEND found "${source}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(found)
  list(JOIN found "\n" text)
  message(FATAL_ERROR "private host headers included outside host/src:\n${text}")
endif()
list(LENGTH sources count)
message(STATUS "${count} files checked: none includes a header of host/src")
