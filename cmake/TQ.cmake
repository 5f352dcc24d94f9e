# Build helpers shared by every folder.
#
# Each source folder is one static library of its *.cpp files, and each test
# folder one GoogleTest program, so adding a file never means editing a list.

set(TQ_WARNINGS -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(TQ_WERROR)
  list(APPEND TQ_WARNINGS -Werror)
endif()

if(TQ_FUZZ)
  set(TQ_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  add_compile_options(${TQ_SANITIZE} -fsanitize=fuzzer-no-link -g -O1)
  add_link_options(${TQ_SANITIZE})
endif()

# A sanitizer build of the whole suite: "address" (ASan with UBSan) or
# "thread" (TSan). Any finding ends the program, so it fails its test; the
# code is compiled as the plain build (-O1 would hide less, but time more).
# TQ_SANITIZED tells the tests which one runs, for the few that must step aside.
if(TQ_SANITIZE STREQUAL "address")
  set(TQ_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(TQ_SANITIZE STREQUAL "thread")
  set(TQ_SANITIZE_FLAGS -fsanitize=thread)
elseif(TQ_SANITIZE)
  message(FATAL_ERROR "TQ_SANITIZE is address or thread, not ${TQ_SANITIZE}")
endif()
if(TQ_SANITIZE_FLAGS)
  add_compile_options(${TQ_SANITIZE_FLAGS} -fno-omit-frame-pointer)
  add_link_options(${TQ_SANITIZE_FLAGS})
  add_compile_definitions(TQ_SANITIZED="${TQ_SANITIZE}")
endif()
if(TQ_SANITIZE STREQUAL "thread")
  # Every program takes the timed lock of std::timed_mutex through a call
  # this ThreadSanitizer sees (tests/sanitize/ClockLock.c says why).
  add_library(tq_tsan_clocklock OBJECT ${PROJECT_SOURCE_DIR}/tests/sanitize/ClockLock.c)
  link_libraries(tq_tsan_clocklock)
endif()

# Adds every direct subfolder of <dir> that holds a CMakeLists.txt, and <dir>
# itself when it has one.
function(tq_add_subdirectories dir)
  set(base ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
  if(EXISTS ${base}/CMakeLists.txt)
    add_subdirectory(${dir})
    return()
  endif()
  file(GLOB children LIST_DIRECTORIES true ${base}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${child})
      file(RELATIVE_PATH rel ${CMAKE_CURRENT_SOURCE_DIR} ${child})
      tq_add_subdirectories(${rel})
    endif()
  endforeach()
endfunction()

# tq_library(<name> [DEPS libs...] [SOURCES extra...])
# A static library of the *.cpp and *.c files of the current folder.
function(tq_library name)
  cmake_parse_arguments(A "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  add_library(${name} STATIC ${srcs} ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${TQ_WARNINGS})
  target_link_libraries(${name} PUBLIC ${A_DEPS} Threads::Threads)
endfunction()

# tq_test(<name> [DEPS libs...] [PROPERTIES ctest properties...])
# A GoogleTest program of the *.cpp files of the current folder; every test
# case becomes its own ctest entry, so cases run in parallel processes.
function(tq_test name)
  if(TQ_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "" "DEPS;PROPERTIES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${srcs})
  target_compile_options(${name} PRIVATE ${TQ_WARNINGS})
  target_link_libraries(${name} PRIVATE ${A_DEPS} tq_test_support GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ${A_PROPERTIES})
endfunction()

# tq_fuzzer(<name> <source> [DEPS libs...])
function(tq_fuzzer name source)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY TQ_FUZZERS ${name})
endfunction()

# tq_server_sources([DEPS libs...] [EXCLUDE names...])
# Adds the *.cpp files of the current folder to the one server library,
# tq_server, which every server folder feeds: the folders call one another
# both ways, which separate static libraries could not express.
function(tq_server_sources)
  cmake_parse_arguments(A "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(x ${A_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  target_sources(tq_server PRIVATE ${srcs})
  if(A_DEPS)
    target_link_libraries(tq_server PUBLIC ${A_DEPS})
  endif()
endfunction()
