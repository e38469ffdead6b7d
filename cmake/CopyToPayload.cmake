# cmake -D FILE=... -D DESTINATION=... -P CopyToPayload.cmake
# Copies a built file into the installers' payload folder, dated
# SOURCE_DATE_EPOCH (seconds since 1970, UTC) when the environment sets it.
# Removed first: file(COPY) skips a file whose copy has the same date.
get_filename_component(name ${FILE} NAME)
file(REMOVE ${DESTINATION}/${name})
file(COPY ${FILE} DESTINATION ${DESTINATION})
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND touch -d @$ENV{SOURCE_DATE_EPOCH} ${DESTINATION}/${name} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Could not date ${DESTINATION}/${name} SOURCE_DATE_EPOCH ($ENV{SOURCE_DATE_EPOCH})")
  endif()
endif()
