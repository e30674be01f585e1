# Writes the page into a C++ source as one raw string literal, byte for byte.
file(READ "${PAGE}" content)
string(FIND "${content}" ")livepage\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${PAGE} contains the literal's closing delimiter")
endif()
file(WRITE "${OUTPUT}" "// Made from page.html by embed_page.cmake; edit that instead.\n"
  "#include \"live/live_page.h\"\n\nnamespace bvhost {\n\n"
  "const char* const kLivePage = R\"livepage(${content})livepage\";\n\n}  // namespace bvhost\n")
