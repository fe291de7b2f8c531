# Copies text files with CR LF line ends (DOS): cmake -DSOURCE=dir
# -DTARGET=dir -DFILES=a;b;... -P ToCrlf.cmake. Every line, the last one
# included, ends with CR LF.
foreach(name IN LISTS FILES)
  file(READ "${SOURCE}/${name}" text)
  string(REPLACE "\r" "" text "${text}")
  if(NOT text MATCHES "\n$")
    string(APPEND text "\n")
  endif()
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${TARGET}/${name}" "${text}")
endforeach()
