# The version as the programs see it: a header for the C++ code and the
# numbers a Windows version resource wants.
set(PURGEX_VERSION_SHORT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
set(PURGEX_VERSION_COMMAS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/PurgexVersion.h.in ${PURGEX_GENERATED_DIR}/PurgexVersion.h @ONLY)

# A Windows program's version resource (what Explorer's properties and the
# installer show), from the same number.
function(purgex_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(PURGEX_RC_DESCRIPTION "${description}")
  set(PURGEX_RC_FILE_NAME "${target}.exe")
  set(rc ${PURGEX_GENERATED_DIR}/${target}.version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
