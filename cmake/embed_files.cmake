# Writes a C++ source that holds files as byte arrays, for programs that
# serve them without reading anything at run time.
#   cmake -DOUTPUT=file.cpp -DFUNCTION=PageFiles -DHEADER=tools/bridge/http/page.h
#         -DFILES="name1=path1|name2=path2" -P embed_files.cmake
# The function returns std::span<const EmbeddedFile> of {name, bytes}.
cmake_minimum_required(VERSION 3.25)
set(text "// Written by cmake/embed_files.cmake; do not edit.\n#include \"${HEADER}\"\n\nnamespace lumidex {\nnamespace {\n")
set(table "")
set(index 0)
string(REPLACE "|" ";" entries "${FILES}")
foreach(entry IN LISTS entries)
  string(FIND "${entry}" "=" equals)
  string(SUBSTRING "${entry}" 0 ${equals} name)
  math(EXPR start "${equals} + 1")
  string(SUBSTRING "${entry}" ${start} -1 path)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # A trailing zero keeps an empty file's array legal; it is not counted.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n    " bytes "${bytes}")
  string(APPEND text "const unsigned char kFile${index}[] = {\n    ${bytes}0};\n")
  string(APPEND table "        {\"${name}\", {reinterpret_cast<const char*>(kFile${index}), ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND text "} // namespace\n\nstd::span<const EmbeddedFile> ${FUNCTION}() {\n    static const EmbeddedFile files[] = {\n${table}    };\n    return files;\n}\n\n} // namespace lumidex\n")
file(WRITE "${OUTPUT}.new" "${text}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
