#include "answer_reader.hpp"

#include <string_view>

namespace plat {

bool AnswerReader::fill() {
    if (ended_) {
        return false;
    }
    constexpr std::size_t kBlock = 4096;
    buf_.resize(kBlock);
    const std::size_t got = source_(buf_.data(), kBlock);
    buf_.resize(got);
    pos_ = 0;
    if (got == 0) {
        ended_ = true;
        return false;
    }
    return true;
}

std::string AnswerReader::read() {
    std::string answer;
    for (;;) {
        if (pos_ == buf_.size() && !fill()) {
            return answer;
        }
        if (skipLf_) {
            skipLf_ = false;
            if (buf_[pos_] == '\n') {
                ++pos_;
                continue;
            }
        }
        const std::string_view rest = std::string_view(buf_).substr(pos_);
        const std::size_t stop = rest.find_first_of(std::string_view("\n\r\x1a", 3));
        if (stop == std::string_view::npos) {
            answer.append(rest);
            pos_ = buf_.size();
            continue;
        }
        answer.append(rest.substr(0, stop));
        pos_ += stop;
        const char end = buf_[pos_];
        if (end == '\x1a') {
            ended_ = true;
            buf_.clear();
            pos_ = 0;
            return answer;
        }
        ++pos_;
        skipLf_ = end == '\r';
        return answer;
    }
}

} // namespace plat
