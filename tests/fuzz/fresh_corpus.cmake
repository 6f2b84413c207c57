# Replaces a fuzz test's working corpus with the seeds and clears its crash
# folder, so every run starts from the same inputs and reports only its own
# findings.  cmake -DSEEDS=... -DCORPUS=... -DARTIFACTS=... -P fresh_corpus.cmake
foreach(var SEEDS CORPUS ARTIFACTS)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()
if(NOT IS_DIRECTORY "${SEEDS}")
    message(FATAL_ERROR "no seed corpus at ${SEEDS}")
endif()
file(REMOVE_RECURSE "${CORPUS}" "${ARTIFACTS}")
file(MAKE_DIRECTORY "${CORPUS}" "${ARTIFACTS}")
file(GLOB seed_files "${SEEDS}/*")
if(NOT seed_files)
    message(FATAL_ERROR "the seed corpus ${SEEDS} is empty")
endif()
file(COPY ${seed_files} DESTINATION "${CORPUS}")
