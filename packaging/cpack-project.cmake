# Read by cpack before it builds a package (CPACK_PROJECT_CONFIG_FILE).
# cpack stamps the files in the package, and the package's own members,
# with SOURCE_DATE_EPOCH where it is set, and with the time they were built
# where it is not. So it is set here, as reproducible-builds.org has it: to
# the time of the last commit, or without git, to that of the newest entry
# in packaging/debian/changelog. A zip holds local times beside them, which
# are taken in UTC. Two builds of one commit then make the same package,
# byte for byte.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY "${CPACK_QUILLANTREX_SOURCE_DIR}"
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT epoch MATCHES "^[0-9]+$")
    file(STRINGS "${CPACK_QUILLANTREX_SOURCE_DIR}/packaging/debian/changelog" signature
      REGEX "^ -- " LIMIT_COUNT 1)
    string(REGEX REPLACE "^.*>  " "" date "${signature}")
    execute_process(COMMAND date -u -d "${date}" +%s
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  else()
    message(WARNING "No SOURCE_DATE_EPOCH from git or the changelog: the package bears the build's times")
  endif()
endif()
set(ENV{TZ} UTC0)
