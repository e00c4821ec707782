// The operator's input may come from a terminal, a pipe or a file, in pieces of any size. The
// answers must not depend on how the input is cut, must follow the line-end rules, and once the
// input has ended it must not be read again.
#include "fuzz_check.hpp"
#include "platform/answer_reader.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The rules over the whole input at once: an answer ends at LF, CR (with an LF right after it
// belonging to it) or code 26; code 26 and the end of input end every later answer too.
std::vector<std::string> reference(std::string_view in, std::size_t count) {
    std::vector<std::string> answers;
    std::size_t pos = 0;
    bool over = false;
    bool afterCr = false;
    while (answers.size() < count) {
        if (over) {
            answers.emplace_back();
            continue;
        }
        if (afterCr && pos < in.size() && in[pos] == '\n') {
            ++pos;
        }
        const std::size_t stop = in.find_first_of(std::string_view("\n\r\x1a", 3), pos);
        if (stop == std::string_view::npos) {
            answers.emplace_back(in.substr(pos));
            over = true;
            continue;
        }
        answers.emplace_back(in.substr(pos, stop - pos));
        over = in[stop] == '\x1a';
        afterCr = in[stop] == '\r';
        pos = stop + 1;
    }
    return answers;
}

// Hands out the input in pieces whose sizes a small generator picks; counts the calls made after
// it has reported the end.
class ChoppedInput {
public:
    ChoppedInput(std::string_view in, std::uint32_t seed, std::size_t largest)
        : in_(in), state_(seed | 1U), largest_(largest) {}

    std::size_t operator()(char* buf, std::size_t cap) {
        if (ended_) {
            ++askedAfterEnd_;
        }
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        const std::size_t want = 1 + state_ % largest_;
        const std::size_t n = std::min({want, cap, in_.size() - pos_});
        std::memcpy(buf, in_.data() + pos_, n);
        pos_ += n;
        ended_ = n == 0;
        return n;
    }

    int askedAfterEnd() const { return askedAfterEnd_; }

private:
    std::string_view in_;
    std::size_t pos_ = 0;
    std::uint32_t state_;
    std::size_t largest_;
    bool ended_ = false;
    int askedAfterEnd_ = 0;
};

std::vector<std::string> readAnswers(std::string_view in, std::uint32_t seed, std::size_t largest,
                                     std::size_t count) {
    ChoppedInput chopped(in, seed, largest);
    plat::AnswerReader reader([&](char* buf, std::size_t cap) { return chopped(buf, cap); });
    std::vector<std::string> answers;
    for (std::size_t i = 0; i < count; ++i) {
        answers.push_back(reader.read());
    }
    FUZZ_REQUIRE(chopped.askedAfterEnd() == 0);
    return answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint32_t seed = data[0] * 2654435761U;
    const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    // Every answer the input can hold, and two past its end.
    const std::size_t count =
        2 + static_cast<std::size_t>(std::count_if(in.begin(), in.end(), [](char c) {
            return c == '\n' || c == '\r' || c == '\x1a';
        }));

    const std::vector<std::string> expected = reference(in, count);
    const std::vector<std::string> whole = readAnswers(in, seed, 1 << 20, count);
    FUZZ_REQUIRE(whole == expected);
    for (const std::size_t largest : {1, 2, 3, 7, 64, 4096}) {
        FUZZ_REQUIRE(readAnswers(in, seed, largest, count) == whole);
    }
    for (const std::string& a : whole) {
        FUZZ_REQUIRE(a.find_first_of(std::string_view("\n\r\x1a", 3)) == std::string::npos);
    }
    return 0;
}
