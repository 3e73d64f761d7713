cmake_minimum_required(VERSION 3.21)
# Refuses an include against the layers: every `#include "<folder>/..."` of a
# file in src/<LAYER> must name LAYER itself or one of the folders in USES
# (comma-separated). Run by the build before the layer's library is
# compiled; writes STAMP when the layer is clean.
file(GLOB files "${SOURCE_DIR}/${LAYER}/*.h" "${SOURCE_DIR}/${LAYER}/*.cpp")
string(REPLACE "," ";" allowed "${USES}")
list(APPEND allowed "${LAYER}")
set(refused "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*$" "\\1" folder "${line}")
    if(NOT folder IN_LIST allowed)
      file(RELATIVE_PATH shown "${SOURCE_DIR}" "${file}")
      string(APPEND refused "\n  ${shown}: ${line}")
    endif()
  endforeach()
endforeach()
if(refused)
  message(FATAL_ERROR "layer '${LAYER}' may use only: ${allowed}; refused:${refused}")
endif()
file(WRITE "${STAMP}" "checked\n")
