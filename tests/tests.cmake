# Unit tests (one GoogleTest program per subsystem folder under tests/) and the end-to-end suite.
if(CMAKE_CROSSCOMPILING)
  # The Windows leg builds GoogleTest from the sources Debian ships (package googletest).
  set(TREECOPY_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  # GoogleTest is not our code: build it without our warnings-as-errors (the directory's compile
  # options are handed to a subdirectory when it is added, so they are lifted around that call).
  get_property(treecopy_compile_options DIRECTORY PROPERTY COMPILE_OPTIONS)
  set_property(DIRECTORY PROPERTY COMPILE_OPTIONS "")
  add_subdirectory(${TREECOPY_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_property(DIRECTORY PROPERTY COMPILE_OPTIONS "${treecopy_compile_options}")
  set(TREECOPY_GTEST gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(TREECOPY_GTEST GTest::gtest GTest::gtest_main)
endif()

# The fault seams of the file layer (tests/seams): wrappers of the layer's narrow operations,
# linked only into the test programs, never into treecopy itself.
add_library(test_seams STATIC ${CMAKE_SOURCE_DIR}/tests/seams/seams.cpp)
target_include_directories(test_seams PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(test_seams PUBLIC treecopy_core)

file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(test_support STATIC ${TEST_SUPPORT_SOURCES})
target_include_directories(test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(test_support PUBLIC test_seams treecopy_core ${TREECOPY_GTEST})
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 and 13 report std::string concatenation inside libstdc++ as an overlapping memcpy when
  # optimizing (-Wrestrict, a known false positive); the tests build strings that way freely.
  target_compile_options(test_support PUBLIC -Wno-restrict)
endif()

set(TREECOPY_TEST_NAMES)
foreach(subsystem cli paths walk actions report)
  file(GLOB unit_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${subsystem}/*_test.cpp)
  if(unit_sources)
    add_executable(test_${subsystem} ${unit_sources})
    target_link_libraries(test_${subsystem} PRIVATE test_support)
    add_test(NAME unit_${subsystem} COMMAND test_${subsystem})
    # A few seconds are normal; the limits end a hang as a failure well within CI's 90 minutes.
    set_tests_properties(unit_${subsystem} PROPERTIES TIMEOUT 300)
    list(APPEND TREECOPY_TEST_NAMES unit_${subsystem})
  endif()
endforeach()

# The file system of the share-fault scenarios (tests/share/faultfs.cpp): a passthrough that
# fails, loses replies to and drops chosen requests. Built natively where libfuse3 is found;
# without it those scenarios skip themselves, saying why.
set(E2E_SHARE)
if(NOT CMAKE_CROSSCOMPILING)
  find_path(FUSE3_INCLUDE_DIR fuse3/fuse.h)
  find_library(FUSE3_LIBRARY fuse3)
  if(FUSE3_INCLUDE_DIR AND FUSE3_LIBRARY)
    add_executable(faultfs ${CMAKE_SOURCE_DIR}/tests/share/faultfs.cpp)
    target_include_directories(faultfs PRIVATE ${FUSE3_INCLUDE_DIR}/fuse3)
    target_link_libraries(faultfs PRIVATE ${FUSE3_LIBRARY} pthread)
    set(E2E_SHARE --faultfs $<TARGET_FILE:faultfs>)
  else()
    message(STATUS "libfuse3 not found (libfuse3-dev): the share-fault scenarios will skip")
  endif()
endif()

find_program(PYTHON3 python3 REQUIRED)
if(CMAKE_CROSSCOMPILING)
  set(E2E_MODE --wine)
elseif(TREECOPY_PORTABLE_POSIX)
  set(E2E_MODE --native --portable)
else()
  set(E2E_MODE --native)
endif()
add_test(NAME e2e
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py ${E2E_MODE}
          --program $<TARGET_FILE:treecopy> ${E2E_SHARE})
set_tests_properties(e2e PROPERTIES TIMEOUT 600)
list(APPEND TREECOPY_TEST_NAMES e2e)
# The same scenarios, with the same expectations, under each engine: eight workers working
# ahead from the first file on, and (natively) the one-at-a-time engine that starts no thread.
# By default the program switches between the two as files take long or not.
add_test(NAME e2e_workers
  COMMAND ${CMAKE_COMMAND} -E env TREECOPY_WORKERS=8
          ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py ${E2E_MODE}
          --program $<TARGET_FILE:treecopy> ${E2E_SHARE})
set_tests_properties(e2e_workers PROPERTIES TIMEOUT 600)
list(APPEND TREECOPY_TEST_NAMES e2e_workers)
if(TREECOPY_TSAN)
  # ThreadSanitizer's runtime makes and unlinks a file in TMPDIR before main, which would shift
  # the scenarios that count the program's unlink calls; a TMPDIR that does not exist keeps it
  # from doing so (the program reads no TMPDIR, and Python's temporary files fall back to /tmp).
  set_tests_properties(e2e e2e_workers PROPERTIES ENVIRONMENT "TMPDIR=${CMAKE_BINARY_DIR}/no-tmpdir")
endif()
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME e2e_one_worker
    COMMAND ${CMAKE_COMMAND} -E env TREECOPY_WORKERS=1
            ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py ${E2E_MODE}
            --program $<TARGET_FILE:treecopy> ${E2E_SHARE})
  set_tests_properties(e2e_one_worker PROPERTIES TIMEOUT 600)
endif()

if(NOT CMAKE_CROSSCOMPILING)
  # The same unit tests and scenarios as an ordinary user (user 65534 when ctest runs as root),
  # who meets the kernel's refusals as well as our attribute rules; scenarios that need root say
  # why they are skipped.
  set(unit_programs)
  foreach(subsystem cli paths walk actions report)
    if(TARGET test_${subsystem})
      list(APPEND unit_programs $<TARGET_FILE:test_${subsystem}>)
    endif()
  endforeach()
  add_test(NAME unit_ordinary_user
    COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/run_as_user.py ${unit_programs})
  add_test(NAME e2e_ordinary_user
    COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py ${E2E_MODE}
            --program $<TARGET_FILE:treecopy> --ordinary-user ${E2E_SHARE})
  # Copies, moves and incremental copies of large files ended by SIGKILL, SIGTERM and SIGINT at
  # random moments (about four minutes).
  add_test(NAME kill_trials
    COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/kill_trials.py --program $<TARGET_FILE:treecopy>)
  set_tests_properties(unit_ordinary_user e2e_ordinary_user PROPERTIES TIMEOUT 600)
  set_tests_properties(kill_trials PROPERTIES TIMEOUT 900)
  # Eight workers copy a tree while another process appends to, replaces and removes its files.
  add_test(NAME churn
    COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/e2e/kill_trials.py --program $<TARGET_FILE:treecopy>
            --churn-only)
  set_tests_properties(churn PROPERTIES TIMEOUT 600)
endif()

# A copy killed halfway leaves the old destination whole (tests/kill): the copy is a small
# program of its own, killed from outside once it has written part of the data.
add_executable(copy_child ${CMAKE_SOURCE_DIR}/tests/kill/copy_child.cpp)
target_link_libraries(copy_child PRIVATE test_seams treecopy_core)
if(CMAKE_CROSSCOMPILING)
  set(kill_flags --wine)
else()
  set(kill_flags)
endif()
add_test(NAME killed_copy
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/kill/check_killed_copy.py
          --child $<TARGET_FILE:copy_child> ${kill_flags})
set_tests_properties(killed_copy PROPERTIES TIMEOUT 600)
list(APPEND TREECOPY_TEST_NAMES killed_copy)

# The progress line of long file operations (tests/progress): on a pseudo-terminal natively, and
# without a terminal on both builds.
add_test(NAME progress
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/progress/check_progress.py
          --program $<TARGET_FILE:treecopy> ${kill_flags} ${E2E_SHARE})
set_tests_properties(progress PROPERTIES TIMEOUT 600)
list(APPEND TREECOPY_TEST_NAMES progress)

# What `cmake --install` and cpack deliver (tests/package); natively also the manual page
# against the program it describes.
if(CMAKE_CROSSCOMPILING)
  set(package_flags --windows)
elseif(TREECOPY_SANITIZE)
  set(package_flags --sanitized)
else()
  set(package_flags)
endif()
add_test(NAME package
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/package/check_package.py --build ${CMAKE_BINARY_DIR}
          ${package_flags})
set_tests_properties(package PROPERTIES TIMEOUT 300)
list(APPEND TREECOPY_TEST_NAMES package)
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME manual
    COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/tests/package/check_manual.py
            --program $<TARGET_FILE:treecopy> --manual ${CMAKE_SOURCE_DIR}/doc/treecopy.1)
  set_tests_properties(manual PROPERTIES TIMEOUT 300)
endif()

# Under Wine every test runs in the build's own prefix, with one persistent wineserver started
# before the first test and stopped after the last (a server per program start costs seconds).
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(TREECOPY_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(wine_server sh ${CMAKE_SOURCE_DIR}/cmake/wine-server)
  add_test(NAME wine_start COMMAND ${wine_server} start ${TREECOPY_WINEPREFIX})
  add_test(NAME wine_stop COMMAND ${wine_server} stop ${TREECOPY_WINEPREFIX})
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
  set_tests_properties(${TREECOPY_TEST_NAMES} PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "WINEPREFIX=${TREECOPY_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
endif()
