# Build helpers shared by every folder.
#
# Each source folder is one static library of its *.cpp files, and each test
# folder one GoogleTest program, so adding a file never means editing a list.

set(TQ_WARNINGS -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(TQ_WERROR)
  list(APPEND TQ_WARNINGS -Werror)
endif()

if(TQ_FUZZ)
  set(TQ_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  add_compile_options(${TQ_FUZZ_SANITIZERS} -fsanitize=fuzzer-no-link -g -O1)
  add_link_options(${TQ_FUZZ_SANITIZERS})
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
  # GCC's flow analysis sees through the instrumentation poorly and warns of
  # uninitialised variables inside the standard library (std::deque).
  add_compile_options(${TQ_SANITIZE_FLAGS} -fno-omit-frame-pointer -Wno-maybe-uninitialized)
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

# tq_expose(<target> <folder>)
# Lets <target> and its users include the headers of <folder> (a path from the
# project root, written as it is in includes) through a tree of their own that
# holds that folder alone.
function(tq_expose target folder)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# tq_library(<name> [DEPS libs...] [SOURCES extra...])
# A static library of the *.cpp and *.c files of the current folder. A folder
# of platform/ or common/ shows its users only itself and its DEPS.
function(tq_library name)
  cmake_parse_arguments(A "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  add_library(${name} STATIC ${srcs} ${A_SOURCES})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(folder MATCHES "^(platform|common)/")
    tq_expose(${name} ${folder})
  else()
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  endif()
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
  add_executable(${name} ${source} ${A_UNPARSED_ARGUMENTS})
  # Test code: it sees the whole tree, as the test programs do.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY TQ_FUZZERS ${name})
endfunction()

# tq_server_library(<name> [DEPS libs...] [EXCLUDE names...])
# One server folder as its own static library. Its users see this folder and
# what its DEPS expose, nothing else of the tree, so an include that goes
# against the layering fails to compile.
function(tq_server_library name)
  cmake_parse_arguments(A "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(x ${A_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  add_library(${name} STATIC ${srcs})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  tq_expose(${name} ${folder})
  target_compile_options(${name} PRIVATE ${TQ_WARNINGS})
  # platform_seh for its unwind flags: a fault anywhere in the server must be
  # catchable where the call began.
  target_link_libraries(${name} PUBLIC ${A_DEPS} platform_seh Threads::Threads)
endfunction()
