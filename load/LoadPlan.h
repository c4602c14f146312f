// LoadPlan: how long a load runs and which processors it loads, as the user writes them on the command
// line: a duration ("90", "90s", "5m", "2h") and a processor list ("0,2-3", numbered from 0).
//
// Classes: LoadPlan.
#pragma once

#include <cstdint>
#include <vector>

class LoadPlan {
public:
    // The longest duration taken, in seconds: about 68 years, so that the end always lies in the future.
    static constexpr uint32_t kLongestSeconds = 0x7FFFFFFF;
    // Processor numbers above this are refused as typing mistakes; no machine has that many.
    static constexpr uint32_t kHighestProcessor = 65535;

    // N seconds, or N followed by s, m or h (any case): whole decimal numbers from 1 up to kLongestSeconds
    // in all. 1 and seconds set when text is such a duration; 0 and seconds untouched otherwise.
    static int ParseDuration(const char *text, uint32_t *seconds);
    static int IsDuration(const char *text);
    // Comma-separated numbers and ranges "a-b" with a <= b, no spaces, nothing empty.
    static int IsProcessorList(const char *text);

    // 0 for a load that runs until it is stopped.
    uint32_t Seconds() const { return seconds_; }
    int SetDuration(const char *text);
    // Empty or null: every processor. 0 and the selection unchanged when the list is malformed.
    int SetProcessors(const char *list);
    // 1 when the processor with this number (0-based) is to be loaded.
    int Includes(uint32_t index) const;
    // 1 when the list names processors and none of the first count of them.
    int NamesNoneOf(uint32_t count) const;

private:
    struct Range {
        uint32_t first;
        uint32_t last;
    };
    static int ParseProcessors(const char *text, std::vector<Range> *ranges);

    uint32_t seconds_ = 0;
    int everyProcessor_ = 1;
    std::vector<Range> ranges_;
};
