# Fails when the portable core, or any project header it includes, reaches for the program
# (app/), the window seams or the resource ids. Run as: cmake -DSOURCE_DIR=... -P this file.
cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...)
set(core_globs
  genisys/*.h genisys/*.cpp
  serial/*.h serial/*.cpp
  comms/log_line.h comms/log_line.cpp
  config/config_record.h config/config_record.cpp
  config/config_fields.h config/config_fields.cpp
  config/read_response.h config/read_response.cpp
  config/exchange.h config/exchange.cpp
  config/record_file.h config/record_file.cpp
  platform/clock.h platform/clock_*.cpp platform/files.h platform/files_*.cpp)
set(forbidden "^app/|^platform/dialog\\.h$|^platform/system\\.h$|^res/|^comms/comms_dlg\\.h$|^config/config_dlg\\.h$")

set(todo "")
foreach(glob ${core_globs})
  file(GLOB found RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${glob})
  list(APPEND todo ${found})
endforeach()
list(LENGTH todo count)
if(count LESS 10)
  message(FATAL_ERROR "only ${count} core files found under ${SOURCE_DIR}: wrong folder?")
endif()

set(seen "")
set(problems "")
while(todo)
  list(POP_FRONT todo file)
  if(file IN_LIST seen)
    continue()
  endif()
  list(APPEND seen ${file})
  file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^#include \"")
  foreach(line ${lines})
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
    if(header MATCHES "${forbidden}")
      list(APPEND problems "${file} includes ${header}")
    elseif(EXISTS ${SOURCE_DIR}/${header})
      list(APPEND todo ${header})
    endif()
  endforeach()
endwhile()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "the core reaches beyond itself:\n  ${text}")
endif()
list(LENGTH seen checked)
message(STATUS "core stands alone: ${checked} files checked")
