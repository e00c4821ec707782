#include "faults.hpp"

#include "errors.hpp"
#include "text.hpp"

namespace boardsim {

namespace {

using Kind = Action::Kind;

struct ActionName {
    std::string_view name;
    Kind kind;
    bool takesValue;
    bool allowedAtAccept;
};

// trickle is split with one-byte segments, so it is handled apart.
constexpr ActionName kActions[] = {
    {"delay", Kind::Delay, true, true},     {"answer", Kind::Answer, true, false},
    {"badsum", Kind::BadSum, false, false}, {"lf", Kind::Lf, false, false},
    {"cr", Kind::Cr, false, false},         {"split", Kind::Split, true, false},
    {"extra", Kind::Extra, true, false},    {"raw", Kind::Raw, true, true},
    {"flood", Kind::Flood, true, true},     {"bigline", Kind::BigLine, true, false},
    {"silent", Kind::Silent, false, false}, {"close", Kind::Close, false, true},
    {"reset", Kind::Reset, false, true},
};

Action parseSplit(std::string_view value) {
    const auto at = value.find('@');
    if (at == std::string_view::npos) {
        throw UsageError("split needs K@MS (bytes per segment @ ms between them), got '" +
                         std::string(value) + "'");
    }
    Action a;
    a.kind = Kind::Split;
    a.count = parseCount(value.substr(0, at), "split segment size");
    if (a.count == 0) {
        throw UsageError("split segment size must be at least 1");
    }
    a.gapMs = parseMillis(value.substr(at + 1), "split pause");
    return a;
}

Action parseAction(std::string_view text, bool atAccept) {
    const auto eq = text.find('=');
    const std::string_view name = text.substr(0, eq);
    const bool hasValue = eq != std::string_view::npos;
    const std::string_view value = hasValue ? text.substr(eq + 1) : std::string_view();

    if (name == "trickle") {
        if (!hasValue) {
            throw UsageError("trickle needs =MS");
        }
        if (atAccept) {
            throw UsageError("trickle shapes an answer, there is none at accept");
        }
        Action a;
        a.kind = Kind::Split;
        a.count = 1;
        a.gapMs = parseMillis(value, "trickle pause");
        return a;
    }
    for (const auto& known : kActions) {
        if (known.name != name) {
            continue;
        }
        if (known.takesValue != hasValue) {
            throw UsageError(std::string(name) +
                             (known.takesValue ? " needs =VALUE" : " takes no value"));
        }
        if (atAccept && !known.allowedAtAccept) {
            throw UsageError(std::string(name) +
                             " needs an answer, there is none at accept (use delay, raw, flood, "
                             "close or reset)");
        }
        Action a;
        a.kind = known.kind;
        switch (known.kind) {
        case Kind::Delay:
            a.count = parseMillis(value, "delay");
            break;
        case Kind::Answer:
        case Kind::Extra:
        case Kind::Raw:
            a.text = unescapeText(value);
            break;
        case Kind::Split:
            return parseSplit(value);
        case Kind::Flood:
            a.count = parseSize(value, "flood size");
            break;
        case Kind::BigLine:
            a.count = parseSize(value, "bigline size");
            break;
        default:
            break;
        }
        return a;
    }
    throw UsageError("unknown fault action '" + std::string(name) +
                     "' (delay answer badsum lf cr split trickle extra raw flood bigline silent "
                     "close reset)");
}

} // namespace

Fault parseFault(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        throw UsageError("fault needs WHEN:ACTION, got '" + std::string(text) + "'");
    }
    const std::string_view when = text.substr(0, colon);
    Fault f;
    if (when == "accept") {
        f.when = kAtAccept;
    } else {
        f.when = parseCount(when, "fault request index");
        if (f.when == 0) {
            throw UsageError("fault request index counts from 1");
        }
    }
    f.action = parseAction(text.substr(colon + 1), f.when == kAtAccept);
    return f;
}

std::vector<Action> FaultPlan::at(std::uint64_t when) const {
    std::vector<Action> actions;
    for (const auto& f : faults_) {
        if (f.when == when) {
            actions.push_back(f.action);
        }
    }
    return actions;
}

} // namespace boardsim
