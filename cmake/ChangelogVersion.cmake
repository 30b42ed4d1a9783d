# Reads the version and the date of the newest entry of debian/changelog, the
# one place a release is named, before project() so that it can carry them:
#   KRV_CHANGELOG_VERSION  "1.4.1" (MAJOR.MINOR.REVISION, as the window shows it)
#   KRV_RELEASE_DATE       "2026-12-07"
# dpkg-buildpackage takes SOURCE_DATE_EPOCH from the same entry, so the
# packages' file times and the resources' embedded times agree with it.
set(changelog ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} heading LIMIT_COUNT 1)
# No epoch and no Debian revision: a native package whose version is the
# program's own.
if(NOT heading MATCHES "^krv520-config \\(([0-9]+\\.[0-9]+\\.[0-9]+)\\) ")
    message(FATAL_ERROR "debian/changelog: the newest entry is not \"krv520-config (MAJOR.MINOR.REVISION)\"")
endif()
set(KRV_CHANGELOG_VERSION ${CMAKE_MATCH_1})

file(STRINGS ${changelog} trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "debian/changelog: the newest entry has no date")
endif()
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
# 101..112 less its first digit is the zero-padded month.
math(EXPR month "${month} + 101")
string(SUBSTRING ${month} 1 2 month)
set(KRV_RELEASE_DATE "${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1}")
unset(changelog)
unset(heading)
unset(trailer)
unset(months)
unset(month)
