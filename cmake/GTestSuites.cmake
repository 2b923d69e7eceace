cmake_minimum_required(VERSION 3.25)
# Registers one CTest test per GoogleTest suite of a test program, run as
#   cmake -DEXE=... -DOUT=... -DLABEL=... -DTHREAD_SUITES=a,b -DPREFIX=... -P GTestSuites.cmake
# after the program is built. One process per suite instead of one per test: most of a test
# process's cost under the sanitizers is its start and exit (the whole engine mapped, the GL
# driver started, the leak check), and a suite's tests are written to run in one process.
# Suites named in THREAD_SUITES (comma separated) also carry the label "threads".
string(REPLACE "," ";" THREAD_SUITES "${THREAD_SUITES}")
# Suites named in LOCKED_SUITES (comma separated) never run at the same time as each other.
string(REPLACE "," ";" LOCKED_SUITES "${LOCKED_SUITES}")
execute_process(COMMAND "${EXE}" --gtest_list_tests
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status TIMEOUT 120)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${EXE} --gtest_list_tests failed (${status}):\n${errors}")
endif()
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
get_filename_component(dir "${EXE}" DIRECTORY)
set(script "")
foreach(line IN LISTS lines)
  # Suite lines start in the first column ("Suite." or "Prefix/Suite.  # TypeParam = ...").
  if(line MATCHES "^([^ #][^ ]*)\\.")
    set(suite "${CMAKE_MATCH_1}")
    if(suite MATCHES "^DISABLED_")
      continue()
    endif()
    set(labels "${LABEL}")
    if("${suite}" IN_LIST THREAD_SUITES)
      set(labels "${LABEL}\\;threads")
    endif()
    set(lock "")
    if("${suite}" IN_LIST LOCKED_SUITES)
      set(lock " RESOURCE_LOCK demo_assets")
    endif()
    set(name "${PREFIX}${suite}")
    string(APPEND script
      "add_test([=[${name}]=] [==[${EXE}]==] [==[--gtest_filter=${suite}.*]==])\n"
      "set_tests_properties([=[${name}]=] PROPERTIES WORKING_DIRECTORY [==[${dir}]==]"
      " LABELS \"${labels}\" ENVIRONMENT SDL_VIDEODRIVER=offscreen${lock})\n")
  endif()
endforeach()
file(WRITE "${OUT}" "${script}")
