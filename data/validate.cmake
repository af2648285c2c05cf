# cmake -DDESKTOP_FILE_VALIDATE=... -DAPPSTREAMCLI=... -DDESKTOP=file.desktop -DMETAINFO=file.metainfo.xml -P
# Runs desktop-file-validate on the desktop entry and appstreamcli on the metainfo; any complaint fails.
foreach(tool DESKTOP_FILE_VALIDATE APPSTREAMCLI)
  if(NOT ${tool} OR NOT EXISTS "${${tool}}")
    message(FATAL_ERROR "${tool} is not installed: run scripts/setup.sh")
  endif()
endforeach()

execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${DESKTOP} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
# desktop-file-validate exits 0 on hints and warnings too: any line it prints is a failure here.
if(NOT status EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate ${DESKTOP}:\n${out}")
endif()

execute_process(COMMAND ${APPSTREAMCLI} validate --no-net --pedantic ${METAINFO} RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate ${METAINFO}:\n${out}")
endif()
message(STATUS "${out}")
