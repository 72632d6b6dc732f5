# A new module is its transform source and one line of the module list: configures a throwaway
# tree whose list has one more line (QuenExtra, the forward transform under another name), builds
# it, and fails unless the module is built and the checks that loop over the modules, the
# property lists and `quen list` all take it up.
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... -DLAUNCHER=... -DBUILD_TYPE=... -P check_new_module.cmake
cmake_minimum_required(VERSION 3.20)
set(manifest ${WORK_DIR}/modules.txt)
set(tree ${WORK_DIR}/tree)
file(READ ${SOURCE_DIR}/resources/modules.txt list)
file(WRITE ${manifest} "${list}QuenExtra transforms/fwd.cpp FullComplex Full Forward 1.0.0 1.0.0.0  the forward transform again, under a name of its own\n")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed:\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

run("configuring a tree with one more module" ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${tree}
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER}" -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DQUEN_MANIFEST=${manifest} -DQUEN_BENCH=OFF)
run("building it" ${CMAKE_COMMAND} --build ${tree} --parallel 2 --target QuenExtra test_repeat test_resources quen)

function(expect text in what)
  string(FIND "${in}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${what} does not take up QuenExtra: no \"${text}\" in\n${in}")
  endif()
endfunction()

run("listing the tests" ${CMAKE_CTEST_COMMAND} --test-dir ${tree} -N)
expect("RepeatedFiltering.PeakResidentMemoryStaysWhereTheFirstRunLeftIt/QuenExtra" "${output}" "the repeated filtering check")
expect("exports_QuenExtra" "${output}" "the export check")
expect("_QuenExtra" "${output}" "the full filtering under the memory checker")
run("quen list" ${tree}/bin/quen list --modules ${tree}/bin)
expect("QuenExtra  the forward transform again" "${output}" "quen list")
run("the new module's checks" ${CMAKE_CTEST_COMMAND} --test-dir ${tree} --output-on-failure
    -R "RepeatedFiltering.*QuenExtra|exports_QuenExtra|PropertyList")
expect("PropertyLists.EveryModuleIsDescribedOnceUnderItsMenuName/Default" "${output}" "the property list checks")
file(REMOVE_RECURSE ${WORK_DIR})
