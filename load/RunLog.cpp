// RunLog: the file checks of -l, and the CSV lines: plain ASCII, commas, whole numbers, so that no locale
// changes how a spreadsheet reads them.
#include "load/RunLog.h"
#include "base/CommandLine.h"
#include "base/ModuleInfo.h"
#include <utility>

int RunLog::Open(const char *path, TextString &problem) {
    if (!path || !*path) {
        problem.Assign("Option \"-l\" needs the name of the log file.");
        return 0;
    }
    if (IsDeviceName(path)) {
        problem.Format("Option \"-l\" names the device \"%s\", not a file.", path);
        return 0;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem.Format("Option \"-l\" names the folder \"%s\": give the name of a file in it.", path);
        return 0;
    }
    // Others may read the log while it grows; nobody may write it meanwhile.
    OwnedHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            problem.Format("The log file \"%s\" is held open by another program.", path);
        else if (error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
            problem.Format("The log file \"%s\" cannot be created: its folder does not exist.", path);
        else {
            ModuleInfo module;
            const char *reason = module.SystemErrorText(error);
            problem.Format("The log file \"%s\" cannot be created: %s", path, reason ? reason : "refused.");
        }
        return 0;
    }
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        problem.Format("Option \"-l\" names the device \"%s\", not a file.", path);
        return 0;
    }
    file_ = std::move(file);
    failed_ = 0;
    return 1;
}

void RunLog::FormatHeader(uint32_t processors, TextString &out) {
    out.Assign("time,seconds,target");
    TextString part;
    for (uint32_t p = 0; p < processors; ++p) {
        part.Format(",cpu%u_loaded,cpu%u_usage,cpu%u_load_thread,cpu%u_mhz,cpu%u_limit_mhz", p, p, p, p, p);
        out.Append(part);
    }
}

void RunLog::FormatRow(const SYSTEMTIME &t, uint64_t seconds, uint32_t target,
                       const std::vector<Processor> &processors, TextString &out) {
    out.Format("%04u-%02u-%02uT%02u:%02u:%02u,%I64u,%u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
               t.wSecond, seconds, target);
    TextString part, mhz, limit;
    for (const Processor &p : processors) {
        // An unknown clock stays an empty cell, not a 0 a chart would draw.
        mhz.Assign("");
        limit.Assign("");
        if (p.clock.currentMhz)
            mhz.Format("%u", p.clock.currentMhz);
        if (p.clock.limitMhz)
            limit.Format("%u", p.clock.limitMhz);
        part.Format(",%d,%u,%u,%s,%s", p.loaded ? 1 : 0, p.usage, p.ownShare, mhz.Text(), limit.Text());
        out.Append(part);
    }
}

int RunLog::WriteHeader(uint32_t processors) {
    TextString line;
    FormatHeader(processors, line);
    return WriteLine(line);
}

int RunLog::WriteRow(const SYSTEMTIME &localTime, uint64_t seconds, uint32_t target,
                     const std::vector<Processor> &processors) {
    TextString line;
    FormatRow(localTime, seconds, target, processors, line);
    return WriteLine(line);
}

int RunLog::WriteNote(const char *text) {
    TextString line;
    line.Format("# %s", text);
    return WriteLine(line);
}

int RunLog::WriteLine(const TextString &line) {
    if (!IsOpen())
        return 0;
    TextString text;
    text.Assign(&line);
    text.Append("\r\n");
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(text.Length());
    if (!WriteFile(file_.Get(), text.Text(), length, &written, nullptr) || written != length) {
        // A full disk or a file taken away ends the log, not the run.
        file_.Reset();
        failed_ = 1;
        return 0;
    }
    return 1;
}
