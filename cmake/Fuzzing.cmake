# libFuzzer targets. The ordinary (gcc) build cannot link libFuzzer, so it
# builds the fuzz targets in a second, clang-compiled tree under
# <build>/fuzz when the tests run, and runs each one for a bounded time.
#
#   krv_add_fuzzer(NAME SOURCES file... LIBS lib... [SECONDS n] [CORPUS dir])
#
# A longer run by hand:
#   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKRV_FUZZ=ON
#   cmake --build build-fuzz --target NAME
#   scripts/run-fuzzer.sh build-fuzz/<folder>/NAME 600 /tmp/NAME-corpus [SEED_DIR]

option(KRV_FUZZ "Build only the libFuzzer targets, with clang and sanitizers" OFF)

if(KRV_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(NOT TARGET krv_fuzz_build)
    find_program(KRV_CLANGXX clang++)
    if(KRV_CLANGXX)
        add_test(NAME fuzz_build
            COMMAND ${CMAKE_SOURCE_DIR}/scripts/build-fuzzers.sh
                    ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/fuzz ${KRV_CLANGXX})
        set_tests_properties(fuzz_build PROPERTIES FIXTURES_SETUP fuzzers TIMEOUT 900)
    endif()
endif()

function(krv_add_fuzzer name)
    cmake_parse_arguments(ARG "" "SECONDS;CORPUS" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SECONDS)
        set(ARG_SECONDS 20)
    endif()
    if(KRV_FUZZ)
        add_executable(${name} ${ARG_SOURCES})
        target_link_libraries(${name} PRIVATE ${ARG_LIBS})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set_property(GLOBAL APPEND PROPERTY KRV_FUZZ_TARGETS ${name})
    elseif(KRV_CLANGXX)
        file(RELATIVE_PATH folder ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
        add_test(NAME ${name}
            COMMAND ${CMAKE_SOURCE_DIR}/scripts/run-fuzzer.sh
                    ${CMAKE_BINARY_DIR}/fuzz/${folder}/${name} ${ARG_SECONDS}
                    ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus ${ARG_CORPUS})
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED fuzzers
            TIMEOUT 600 LABELS fuzz)
    endif()
endfunction()

# Called once at the end of the top-level list: tells the build script which
# targets the fuzz tree has to build.
function(krv_write_fuzz_target_list)
    if(KRV_FUZZ)
        get_property(targets GLOBAL PROPERTY KRV_FUZZ_TARGETS)
        file(WRITE ${CMAKE_BINARY_DIR}/fuzz-targets.txt "${targets}")
    endif()
endfunction()
