# Run as a build step (cmake -P) by finish_windows_release: from the linked module
# INPUT, writes OUTPUT.debug (its debug information) and OUTPUT (stripped, linked
# to OUTPUT.debug by a .gnu_debuglink section, and signed when SIGN_CERT is set).
# Expects INPUT, OUTPUT, OBJCOPY; for signing SIGN_CERT, SIGN_KEY, OSSLSIGNCODE,
# DESCRIPTION and optionally SIGN_PASSWORD_FILE.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}\n${output}")
  endif()
endfunction()

set(debug_file "${OUTPUT}.debug")
set(stripped "${OUTPUT}.stripped")
file(REMOVE "${OUTPUT}" "${debug_file}" "${stripped}")

run("${OBJCOPY}" --only-keep-debug "${INPUT}" "${debug_file}")
# The link records the debug file's name and checksum; debuggers look for it beside the module.
run("${OBJCOPY}" --strip-all "--add-gnu-debuglink=${debug_file}" "${INPUT}" "${stripped}")

if(SIGN_CERT)
  set(password)
  if(SIGN_PASSWORD_FILE)
    set(password -readpass "${SIGN_PASSWORD_FILE}")
  endif()
  run("${OSSLSIGNCODE}" sign -certs "${SIGN_CERT}" -key "${SIGN_KEY}" ${password}
      -h sha256 -n "${DESCRIPTION}" -in "${stripped}" -out "${OUTPUT}")
  file(REMOVE "${stripped}")
else()
  file(RENAME "${stripped}" "${OUTPUT}")
endif()
