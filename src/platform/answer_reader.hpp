// Splits the operator's input into answers.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace plat {

class AnswerReader {
public:
    // Fills buf with up to cap bytes and returns the count; 0 means end of input.
    // Throws on a read error.
    using Source = std::function<std::size_t(char* buf, std::size_t cap)>;

    explicit AnswerReader(Source source) : source_(std::move(source)) {}

    // The text up to the next LF, CR, CR LF or code 26, without it. CR LF counts as one line
    // end. Code 26 is left unread, so it ends this answer and every later one is empty. At end
    // of input the answer is what was read so far, and the source is not asked again.
    std::string read();

private:
    bool fill();

    Source source_;
    std::string buf_;
    std::size_t pos_ = 0;
    bool skipLf_ = false; // the last answer ended at CR: an LF right after it belongs to it
    bool ended_ = false;  // end of input or code 26 reached
};

} // namespace plat
