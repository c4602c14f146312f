// CrashRunner: facts, report sections, minidump reading and whole files.
#include "tests/crash/CrashRunner.h"
#include <cstring>
#include <fstream>
#include <sstream>

CrashFacts ReadFacts(const std::string &path) {
    CrashFacts facts;
    std::ifstream in(path.c_str());
    std::string name;
    unsigned long long value = 0;
    while (in >> name >> value)
        facts.insert({name, value});
    return facts;
}

unsigned long long Fact(const CrashFacts &facts, const char *name) {
    auto found = facts.find(name);
    return found == facts.end() ? 0 : found->second;
}

std::string ReportSection(const std::string &report, const char *name) {
    const char *const kNames[] = {"Stack", "Log", "ModuleList", "ThreadList"};
    size_t start = 0;
    if (*name) {
        start = report.find(std::string("\r\n") + name + ":\r\n");
        if (start == std::string::npos)
            return "<none>";
        start += strlen(name) + 5;
    }
    size_t end = report.size();
    for (const char *other : kNames) {
        size_t at = report.find(std::string("\r\n") + other + ":\r\n", start);
        if (at != std::string::npos && at < end)
            end = at;
    }
    return report.substr(start, end - start);
}

int MinidumpSummary::Read(const std::string &bytes) {
    auto u32 = [&](size_t at) -> uint32_t {
        uint32_t value = 0;
        if (at + 4 <= bytes.size())
            memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    valid = bytes.size() >= 32 && bytes.compare(0, 4, "MDMP") == 0 &&
            u32(12) + static_cast<uint64_t>(u32(8)) * 12 <= bytes.size();
    for (uint32_t i = 0; valid && i < u32(8); ++i) {
        size_t entry = u32(12) + i * 12;
        size_t at = u32(entry + 8);
        // MINIDUMP_EXCEPTION_STREAM: thread id, alignment, then code, flags, record and address.
        if (u32(entry) == 6 && at + 32 <= bytes.size()) {
            hasException = 1;
            threadId = u32(at);
            code = u32(at + 8);
            address = u32(at + 24) | (static_cast<uint64_t>(u32(at + 28)) << 32);
        }
    }
    return valid;
}

std::string CrashRunner::ReadWhole(const std::string &path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}
