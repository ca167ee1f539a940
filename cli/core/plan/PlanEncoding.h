#pragma once

// The bytes of a plan as UTF-8 text: spreadsheets and shells also save UTF-16 (with a byte
// order mark), and a file in another encoding is refused with the name of the one it looks like.

#include <optional>
#include <string>
#include <string_view>

struct EncodingFault {
    int Line; // 1-based, where the text stops being readable
    std::string Text;
};

// UTF-8 as it is (its byte order mark stays, for the CSV reader), UTF-16 LE or BE with a byte
// order mark turned into UTF-8 (line numbers kept). A fault for UTF-32, UTF-16 without a mark,
// a broken UTF-16 character, a file that is not text at all and text that is not UTF-8: named
// GBK when it reads as Chinese text in GBK, otherwise "not UTF-8 (Windows-1252?)".
std::optional<EncodingFault> PlanAsUtf8(std::string_view bytes, std::string& utf8);
