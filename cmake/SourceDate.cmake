# The moment written into the payload's images (file and directory times, the
# containers' build date). It is fixed when the build is configured:
# SOURCE_DATE_EPOCH if it is set then, otherwise the time of the commit being
# built. The build tracks it through a file, so a later rebuild packs the same
# images whatever the clock or the environment say at that time, and a new
# commit (git's HEAD log changes) configures again and takes its time.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(PURGEX_SOURCE_DATE "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE PURGEX_SOURCE_DATE RESULT_VARIABLE git_failed
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(git_failed OR NOT PURGEX_SOURCE_DATE)
    # A source tree without git: the time of its top CMakeLists.txt.
    file(TIMESTAMP ${CMAKE_SOURCE_DIR}/CMakeLists.txt PURGEX_SOURCE_DATE "%s" UTC)
  endif()
endif()
if(NOT PURGEX_SOURCE_DATE MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number of seconds: ${PURGEX_SOURCE_DATE}")
endif()

# Cross builds pack nothing: they embed the native build's containers.
if(NOT CMAKE_CROSSCOMPILING)
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-parse --path-format=absolute
                          --git-path logs/HEAD
    OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(head_log AND EXISTS "${head_log}")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${head_log})
endif()

# Rewritten only when the moment changes, so that only then the images are
# packed again.
set(PURGEX_SOURCE_DATE_FILE ${CMAKE_BINARY_DIR}/source-date-epoch)
file(WRITE ${PURGEX_SOURCE_DATE_FILE}.tmp "${PURGEX_SOURCE_DATE}\n")
configure_file(${PURGEX_SOURCE_DATE_FILE}.tmp ${PURGEX_SOURCE_DATE_FILE} COPYONLY)
# Runs a payload tool with that moment: COMMAND ${PURGEX_DATED} $<TARGET_FILE:tool> ...
# and DEPENDS ${PURGEX_SOURCE_DATE_FILE}.
set(PURGEX_DATED ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PURGEX_SOURCE_DATE})
