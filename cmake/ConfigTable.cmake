# SPDX-License-Identifier: GPL-3.0-or-later
# korv_config_table_lua(VARIABLE): the configuration table of protocol/ConfigTable.def (the one the
# window, korvcfg and devsim are compiled from) as Lua, for the capture dissector: CODE (every command
# code by its step, DEVICE_IP = 0x01, ...), RECORD (each field's record offset and width by its
# step), RECORD_FIELDS_END (the shortest record that holds them all and the speed after them),
# MODE_CODE (by korvcfg's name) and baud_of_code. Reconfigures when the table changes.
function(korv_config_table_lua variable)
  set(table ${PROJECT_SOURCE_DIR}/protocol/ConfigTable.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
  file(STRINGS ${table} lines REGEX "^KORV_(FIELD|COMMAND|MODE|SPEED)\\(")
  set(codes "")
  set(places "")
  set(modes "")
  set(bauds "")
  set(fields_end 0)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "[ \t]" "" line "${line}")
    if(line MATCHES "^KORV_(FIELD|COMMAND)\\(([a-z_]+,)?([A-Za-z]+),(0x[0-9A-F]+)(,(-?[0-9]+),([0-9]+))?")
      set(code ${CMAKE_MATCH_4})
      set(offset "${CMAKE_MATCH_6}")
      set(width "${CMAKE_MATCH_7}")
      # DeviceIp -> DEVICE_IP
      string(REGEX REPLACE "([a-z])([A-Z])" "\\1_\\2" step "${CMAKE_MATCH_3}")
      string(TOUPPER "${step}" step)
      string(APPEND codes "${step} = ${code}, ")
      if(NOT offset STREQUAL "" AND NOT offset STREQUAL "-1")
        string(APPEND places "${step} = { ${offset}, ${width} }, ")
        math(EXPR end "${offset} + ${width}")
        if(end GREATER fields_end)
          set(fields_end ${end})
        endif()
      endif()
    elseif(line MATCHES "^KORV_MODE\\((0x[0-9A-F]+),([a-z-]+)\\)")
      string(APPEND modes "[\"${CMAKE_MATCH_2}\"] = ${CMAKE_MATCH_1}, ")
    elseif(line MATCHES "^KORV_SPEED\\(([0-9]+),(0x[0-9A-F]+)\\)")
      string(APPEND bauds "[${CMAKE_MATCH_2}] = ${CMAKE_MATCH_1}, ")
    else()
      message(FATAL_ERROR "protocol/ConfigTable.def: a line this reader does not know: ${line}")
    endif()
  endforeach()
  math(EXPR fields_end "${fields_end} + 1")
  set(${variable} "local CODE = { ${codes}}
local RECORD = { ${places}}
local RECORD_FIELDS_END = ${fields_end}
local MODE_CODE = { ${modes}}
local baud_of_code = { ${bauds}}" PARENT_SCOPE)
endfunction()
