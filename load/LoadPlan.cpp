// LoadPlan: the duration and processor-list syntax of the command line.
#include "load/LoadPlan.h"

namespace {
// A whole decimal number at text, at most limit; the position after its digits, or null when there is no
// digit or the number is larger.
const char *ReadWhole(const char *text, uint64_t limit, uint64_t *number) {
    uint64_t value = 0;
    const char *position = text;
    while (*position >= '0' && *position <= '9') {
        value = value * 10 + static_cast<uint64_t>(*position - '0');
        if (value > limit)
            return nullptr;
        ++position;
    }
    if (position == text)
        return nullptr;
    *number = value;
    return position;
}
} // namespace

int LoadPlan::ParseDuration(const char *text, uint32_t *seconds) {
    if (!text || !seconds)
        return 0;
    uint64_t number = 0;
    const char *end = ReadWhole(text, kLongestSeconds, &number);
    if (!end)
        return 0;
    uint64_t unit = 1;
    switch (*end) {
    case 0:
        break;
    case 's':
    case 'S':
        ++end;
        break;
    case 'm':
    case 'M':
        unit = 60;
        ++end;
        break;
    case 'h':
    case 'H':
        unit = 3600;
        ++end;
        break;
    default:
        return 0;
    }
    if (*end || number == 0 || number * unit > kLongestSeconds)
        return 0;
    *seconds = static_cast<uint32_t>(number * unit);
    return 1;
}

int LoadPlan::IsDuration(const char *text) {
    uint32_t seconds = 0;
    return ParseDuration(text, &seconds);
}

int LoadPlan::ParseProcessors(const char *text, std::vector<Range> *ranges) {
    if (!text || !*text)
        return 0;
    const char *position = text;
    for (;;) {
        uint64_t first = 0, last = 0;
        position = ReadWhole(position, kHighestProcessor, &first);
        if (!position)
            return 0;
        last = first;
        if (*position == '-') {
            position = ReadWhole(position + 1, kHighestProcessor, &last);
            if (!position || last < first)
                return 0;
        }
        if (ranges)
            ranges->push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(last)});
        if (!*position)
            return 1;
        if (*position != ',')
            return 0;
        ++position;
    }
}

int LoadPlan::IsProcessorList(const char *text) {
    return ParseProcessors(text, nullptr);
}

int LoadPlan::SetDuration(const char *text) {
    if (!text || !*text) {
        seconds_ = 0;
        return 1;
    }
    return ParseDuration(text, &seconds_);
}

int LoadPlan::SetProcessors(const char *list) {
    if (!list || !*list) {
        everyProcessor_ = 1;
        ranges_.clear();
        return 1;
    }
    std::vector<Range> ranges;
    if (!ParseProcessors(list, &ranges))
        return 0;
    ranges_.swap(ranges);
    everyProcessor_ = 0;
    return 1;
}

int LoadPlan::Includes(uint32_t index) const {
    if (everyProcessor_)
        return 1;
    for (const Range &range : ranges_) {
        if (index >= range.first && index <= range.last)
            return 1;
    }
    return 0;
}

int LoadPlan::NamesNoneOf(uint32_t count) const {
    if (everyProcessor_)
        return 0;
    for (const Range &range : ranges_) {
        if (range.first < count)
            return 0;
    }
    return 1;
}
