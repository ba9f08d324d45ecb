# Build helpers for filter DLLs on the kit. Every folder that makes a filter DLL includes
# this file itself, whatever the order in which the folders of standins/ are added.
include_guard(GLOBAL)

# quorlin_add_filter_dll(<target> <sources...>)
# A filter DLL (<target>.ax) built on the kit: its sources use KIT_FILTER_DLL(...) once; the
# four COM exports are taken from FilterKit.def. Registration in the Wine prefix is asked
# for separately with quorlin_register_com(<target>).
function(quorlin_add_filter_dll TARGET)
  add_library(${TARGET} SHARED ${ARGN} ${CMAKE_SOURCE_DIR}/standins/kit/FilterKit.def)
  set_target_properties(${TARGET} PROPERTIES PREFIX "" SUFFIX ".ax")
  target_link_libraries(${TARGET} PRIVATE quorlin_filterkit)
endfunction()
