# zr_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1 l2] [RIG])
# One GoogleTest binary registered with CTest. RIG marks tests that need the PC/SC test rig
# (real pcscd and the token simulator, each test in its own namespaces).
function(zr_add_gtest name)
  cmake_parse_arguments(ARG "RIG" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  if(ARG_RIG)
    list(APPEND ARG_LABELS rig)
  endif()
  set(props TIMEOUT 300)
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  # Names as GoogleTest prints them, without the parameter value: stable between builds.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES ${props})
endfunction()
