# zr_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1 l2] [RIG])
# One GoogleTest binary registered with CTest. RIG marks tests that need the PC/SC test rig
# (real pcscd and the token simulator); they are run serially.
function(zr_add_gtest name)
  cmake_parse_arguments(ARG "RIG" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  set(props "")
  if(ARG_RIG)
    list(APPEND ARG_LABELS rig)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300
    ${props})
endfunction()
