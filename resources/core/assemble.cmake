# cmake -DOUTPUT=file.js -DPARTS="a.js|b.js" -P assemble.cmake
# Concatenates the parts inside one function scope.
string(REPLACE "|" ";" PARTS "${PARTS}")
set(text "(function () {\n\"use strict\";\n")
foreach(part ${PARTS})
  file(READ ${part} body)
  get_filename_component(fname ${part} NAME)
  string(APPEND text "// ---- ${fname}\n${body}\n")
endforeach()
string(APPEND text "})();\n")
file(WRITE ${OUTPUT}.tmp "${text}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
