# Writes OUTPUT, a C++ source defining `std::string_view SYMBOL()` that returns the bytes of
# INPUT. Run at build time: cmake -DINPUT=… -DOUTPUT=… -DSYMBOL=… -DNAMESPACE=… -P EmbedText.cmake
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(LENGTH "${hex}" hexlen)
math(EXPR len "${hexlen} / 2")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\n#include <string_view>\nnamespace ${NAMESPACE} {\nnamespace {\nconst char kBytes[] = {${bytes} 0};\n}\nstd::string_view ${SYMBOL}() { return std::string_view(kBytes, ${len}); }\n}\n")
