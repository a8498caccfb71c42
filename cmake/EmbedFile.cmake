# halvora_embed_file(<output.cpp> <function> <file>): writes a source file whose function
# <function>() returns the bytes of <file> as a TIdBytes. Rewritten when the file changes.
function(halvora_embed_file output function file)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  "
         bytes "${bytes}")
  file(CONFIGURE OUTPUT ${output} CONTENT "// Generated from ${file}.
#include \"base/uBytes.h\"

namespace halvora {

const TIdBytes& ${function}() {
  static const TIdBytes Bytes{
  ${bytes}};
  return Bytes;
}

}  // namespace halvora
" @ONLY)
endfunction()
