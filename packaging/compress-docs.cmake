# Run by CPack on its staging folder before the packages are made: Debian
# wants manual pages and changelogs compressed with gzip -9n (no name or time
# stamp, so the same input makes the same package).
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(FILTER staged INCLUDE REGEX "/share/man/.+\\.[1-9][a-z]*$|/share/doc/[^/]+/changelog$")
foreach(doc IN LISTS staged)
    execute_process(COMMAND gzip -9nf ${doc} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip ${doc} failed")
    endif()
endforeach()
list(LENGTH staged count)
message(STATUS "Compressed ${count} manual pages and changelogs")
