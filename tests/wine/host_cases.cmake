# Included by CTest for one test program of the Linux tree (name, program): a test per case it lists,
# named <name>.<Suite>.<Case>, in `cases`. A program that is missing or does not start becomes one
# test that runs it, and so fails.
execute_process(COMMAND "${program}" --gtest_list_tests OUTPUT_VARIABLE listing RESULT_VARIABLE failed
                ERROR_QUIET)
set(cases)
if(failed)
  add_test("${name}" "${program}")
  list(APPEND cases "${name}")
else()
  string(REPLACE "\n" ";" lines "${listing}")
  set(suite "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([A-Za-z0-9_]+)\\.")
      set(suite "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^  ([A-Za-z0-9_]+)")
      add_test("${name}.${suite}.${CMAKE_MATCH_1}" "${program}" "--gtest_filter=${suite}.${CMAKE_MATCH_1}")
      list(APPEND cases "${name}.${suite}.${CMAKE_MATCH_1}")
    endif()
  endforeach()
endif()
