# Writes README.txt and, when GROFF names groff, treecopy.txt (the manual page rendered as
# plain text) into OUT_DIR, with CR LF line ends, for the Windows zip.
#   cmake -DGROFF=groff -DMANUAL=doc/treecopy.1 -DREADME=README.md -DOUT_DIR=build -P text-docs.cmake
function(write_crlf path text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${path} "${text}")
endfunction()

file(READ ${README} readme)
write_crlf(${OUT_DIR}/README.txt "${readme}")

if(GROFF)
  # Plain ASCII without overstriking, bold or underline: what Notepad shows as it is.
  execute_process(COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-u -P-o ${MANUAL}
                  OUTPUT_VARIABLE manual RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "groff could not render ${MANUAL}: ${errors}")
  endif()
  write_crlf(${OUT_DIR}/treecopy.txt "${manual}")
endif()
