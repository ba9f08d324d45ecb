# Helpers shared by the project's CMake files.

# Adds every direct subfolder of DIR that has a CMakeLists.txt, in name order,
# so independent components can be added without touching this file.
function(quorlin_add_optional_subdirectories DIR)
  file(GLOB children RELATIVE ${CMAKE_SOURCE_DIR}/${DIR} ${CMAKE_SOURCE_DIR}/${DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(EXISTS ${CMAKE_SOURCE_DIR}/${DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${DIR}/${child})
    endif()
  endforeach()
endfunction()

# quorlin_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [TIMEOUT <s>] [LABELS <labels...>])
# A GoogleTest program run under Wine by ctest; one ctest entry per program.
function(quorlin_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE quorlin_test_support ${T_LIBS} gmock_main gmock gtest)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# Marks a COM server DLL for registration in the project's Wine prefix (regsvr32).
function(quorlin_register_com TARGET)
  set_property(GLOBAL APPEND PROPERTY QUORLIN_COM_SERVERS "$<TARGET_FILE:${TARGET}>")
endfunction()

# Writes the list of COM servers to register; called once at the end of the top-level file.
function(quorlin_write_register_list)
  get_property(servers GLOBAL PROPERTY QUORLIN_COM_SERVERS)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/register.list CONTENT "$<JOIN:${servers},\n>\n")
endfunction()
