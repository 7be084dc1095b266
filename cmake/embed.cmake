# Writes a C++ source defining tqmap::web::<NAME> as the bytes of a file:
#   cmake -DNAME=appJs -DFILE=app.js -DOUT=app_js.cpp -P embed.cmake
file(READ ${FILE} hex HEX)
string(LENGTH "${hex}" n)
math(EXPR bytes "${n} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," hex "${hex}")
file(WRITE ${OUT}.tmp "// Generated from ${FILE}: do not edit.
#include \"tools/tqmap/web/assets.h\"

namespace tqmap::web {

namespace {
const char bytes[] = {${hex}'\\0'};
}  // namespace

const std::string_view ${NAME}(bytes, ${bytes});

}  // namespace tqmap::web
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
