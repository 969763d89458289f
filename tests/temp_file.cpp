#include "temp_file.h"

#include <iconv.h>

namespace testing_support {
namespace {

std::string ToCp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string in = utf8;
    std::string out(utf8.size() * 2 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

std::string TempFolder::write(const std::string& name, const std::string& text, bool cp932) const {
    const auto file = m_path / name;
    std::ofstream(file, std::ios::binary) << (cp932 ? ToCp932(text) : text);
    return file.string();
}

}  // namespace testing_support
