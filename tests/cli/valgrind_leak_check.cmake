# Runs tessaline-cli under valgrind's leak checker over a reduction, a failed PNG read, a failed
# decode through Qt and a failed write; any definite leak or memory error fails the test.
#   cmake -DCLI=... -DVALGRIND=... -DDATA=tests/data -DSEED=<small png> -DWORK=<folder> -P this
if(NOT VALGRIND)
    message("valgrind not installed: skipped")
    cmake_language(EXIT 77)
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(fullTarget "${WORK}/missing-folder/out.png")
if(EXISTS /dev/full)
    set(fullTarget /dev/full)
endif()
# Each run: name, expected exit code, then the arguments, separated by '|'.
set(runs
    "reduction|0|--quiet|-o|${WORK}/out.png|${SEED}"
    "failed read|1|--quiet|-o|${WORK}/bad.png|${DATA}/hostile/truncated_in_idat.png"
    "failed decode|1|--quiet|-o|${WORK}/bad2.png|${DATA}/hostile/not_png.jpg"
    "failed write|1|--quiet|-o|${fullTarget}|${SEED}")
foreach(run IN LISTS runs)
    string(REPLACE "|" ";" fields "${run}")
    list(POP_FRONT fields name expected)
    execute_process(
        COMMAND "${VALGRIND}" --quiet --leak-check=full --show-leak-kinds=definite
                --errors-for-leak-kinds=definite --error-exitcode=99
                --suppressions=${CMAKE_CURRENT_LIST_DIR}/valgrind.supp "${CLI}" ${fields}
        RESULT_VARIABLE code
        ERROR_VARIABLE errors)
    if(NOT code EQUAL expected)
        message(FATAL_ERROR "${name}: exit ${code}, expected ${expected}\n${errors}")
    endif()
    message("${name}: clean (exit ${code})")
endforeach()
