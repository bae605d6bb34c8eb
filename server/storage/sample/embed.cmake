# Turns the sample SQL script into a C++ source holding it as a string.
file(READ ${INPUT} content)
# A raw string literal cannot hold its own closing delimiter; the script never does.
file(WRITE ${OUTPUT}
  "// Generated from server/storage/sample/sample.sql; do not edit.\n"
  "namespace q4::lite {\n"
  "extern const char kSampleScript[];\n"
  "const char kSampleScript[] = R\"q4sample(${content})q4sample\";\n"
  "}\n")
