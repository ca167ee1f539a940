#include "GbkCodec.h"

#include <cerrno>
#include <iconv.h>

namespace {

// One descriptor per direction and thread, opened on first use: opening one costs far more
// than a short conversion, and the window's receiver thread decodes while the main thread does.
class Converter {
  public:
    Converter(const char* to, const char* from) : Cd(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid()) iconv_close(Cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The whole input or nothing: any sequence iconv cannot take (EILSEQ, or EINVAL for one cut
    // at the end) fails the conversion.
    std::optional<std::string> Convert(std::string_view in) {
        if (!Valid()) return std::nullopt;
        iconv(Cd, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        std::string out;
        char buffer[512];
        char* from = const_cast<char*>(in.data());
        std::size_t fromLeft = in.size();
        while (fromLeft > 0) {
            char* to = buffer;
            std::size_t toLeft = sizeof buffer;
            const std::size_t done = iconv(Cd, &from, &fromLeft, &to, &toLeft);
            const int error = errno;
            out.append(buffer, sizeof buffer - toLeft);
            if (done == static_cast<std::size_t>(-1) && error != E2BIG) return std::nullopt;
            // GBK has no shift state, yet iconv counts irreversible conversions here.
            if (done != static_cast<std::size_t>(-1) && done > 0) return std::nullopt;
        }
        return out;
    }

  private:
    bool Valid() const { return Cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Cd;
};

} // namespace

std::optional<std::string> GbkDecodeStrict(std::string_view gbk) {
    thread_local Converter decoder("UTF-8", "GBK");
    return decoder.Convert(gbk);
}

std::optional<std::string> GbkEncodeStrict(std::string_view utf8) {
    thread_local Converter encoder("GBK", "UTF-8");
    return encoder.Convert(utf8);
}
