# cmake -D FILE=... -D DESTINATION=... -P CopyToPayload.cmake
# Copies a built file into the installers' payload folder, dated
# SOURCE_DATE_EPOCH (seconds since 1970, UTC) when the environment sets it.
file(COPY ${FILE} DESTINATION ${DESTINATION})
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  get_filename_component(name ${FILE} NAME)
  execute_process(COMMAND touch -d @$ENV{SOURCE_DATE_EPOCH} ${DESTINATION}/${name} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Could not date ${DESTINATION}/${name} SOURCE_DATE_EPOCH ($ENV{SOURCE_DATE_EPOCH})")
  endif()
endif()
