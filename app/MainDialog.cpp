// MainDialog: initialisation, the load switch, the usage refresh and the close path of the main window.
#include "app/MainDialog.h"

#include "base/CommandLine.h"
#include "base/EventObject.h"
#include "base/ProcessorGroups.h"
#include "base/Wow64.h"
#include "base/RegistryKey.h"
#include "base/TextString.h"
#include "load/LoadWorker.h"
#include "load/ProcessorClock.h"
#include "load/ProcessorRecord.h"
#include "res/ResourceIds.h"
#include <commctrl.h>
#include <vector>

const char MainDialog::kTitle[] = "Tarvex";
const char MainDialog::kSettingsKey[] = "Software\\Qelmarch\\Tarvex";
const char MainDialog::kAutoUpdateValue[] = "AutoUpdate";
const char MainDialog::kWideMachineNoticeValue[] = "WideMachineNotice";
const char MainDialog::kLastCheckValue[] = "LastCheck";
const char MainDialog::kLinkAddress[] = "https://qelmarch.example/";
const char MainDialog::kUpdateUrl[] = "http://update.qelmarch.example/data/update.php?p=tarvex";
const char MainDialog::kUpdateUrlValue[] = "UpdateUrl";

namespace {

const char kLinkText[] = "qelmarch.example";
// The update request's item type for this program.
const char kItemType[] = "1";

struct ColumnSpec {
    const char *header;
    int width;
    uint32_t autosize;
};

const ColumnSpec kColumns[] = {
    {"CPU", 50, 0},
    {"Name", 280, 0},
    {"Vendor", 110, 0},
    {"Speed", 110, 0},
    {"Usage", 110, 0},
    // The clock under load, as the power manager reports it now; the Speed column is the rated clock.
    {"Clock", 80, ListViewControl::kAutosizeUseHeader},
};

// The window grows on big machines: the list takes the room, the slider the width; the buttons and the
// percentage stay at the bottom right, the link and the update box at the bottom left.
const ControlAnchors::Anchor kAnchors[] = {
    {IDC_PROCESSORS,
     ControlAnchors::kLeft | ControlAnchors::kTop | ControlAnchors::kRight | ControlAnchors::kBottom},
    {IDC_PERCENT_SLIDER, ControlAnchors::kLeft | ControlAnchors::kRight | ControlAnchors::kBottom},
    {IDC_PERCENT_LABEL, ControlAnchors::kRight | ControlAnchors::kBottom},
    {IDC_GRAB, ControlAnchors::kRight | ControlAnchors::kBottom},
    {IDC_EXIT, ControlAnchors::kRight | ControlAnchors::kBottom},
    {IDC_AUTOUPDATE, ControlAnchors::kLeft | ControlAnchors::kBottom},
    {IDC_LINK, ControlAnchors::kLeft | ControlAnchors::kBottom},
};

// A scripted run's mistake goes where the script sees it: the standard error handle the program was given
// (a redirected one, or a Unix parent's under Wine), else the console of the window it was started from.
void WriteToStandardError(const char *text) {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    OwnedHandle console;
    if (!handle || handle == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        console.Reset(CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        if (!console.IsValid())
            return;
        handle = console.Get();
    }
    TextString line;
    line.Format("Tarvex: %s\r\n", text);
    DWORD written = 0;
    WriteFile(handle, line.Text(), static_cast<DWORD>(line.Length()), &written, nullptr);
}

// 1 when this program can pin a worker to the record's processor (a 32-bit program names 32 processors of
// its own group at the most).
int CanLoad(const ProcessorRecord &record) {
    uint16_t group = 0;
    DWORD_PTR mask = 0;
    return record.sampler.Groups().Locate(record.index, &group, &mask);
}

} // namespace

MainDialog::~MainDialog() {
    // Only reached with records left when the dialog never closed normally; a record's worker ends its
    // thread when the record is deleted.
    DeleteRecords();
}

int MainDialog::OnInitDialog() {
    closing_ = 0;
    closeDeferred_ = 0;
    stopping_ = 0;
    SetUpControls();

    // The box is set before anything can close the window: every close stores it.
    const int autoUpdate = ReadDwordAt(HKEY_CURRENT_USER, kSettingsKey, kAutoUpdateValue, 1) == 1;
    CheckItem(IDC_AUTOUPDATE, autoUpdate);

    running_ = 0;
    loadEnd_ = 0;
    loadStarted_ = 0;
    loadCompleted_ = 0;
    placeFailed_ = 0;
    runStart_ = TickCount64();

    CommandLine commandLine;
    TextString problem;
    ReadCommandLine(commandLine, problem);

    // Nothing of an update may ask a person in a scripted run, not even a check the box starts.
    updater_.SetQuiet(scripted_);

    processors_.Reset();
    AddProcessors();
    TickPlannedProcessors(problem);
    if (problem.Length() > 0 && !ReportMistake(commandLine, problem))
        return kInitDone;
    // A scripted run asks nothing: the weekly check and the notice wait for the next start by a person
    // (the time of the last check stays as it was).
    if (!scripted_) {
        if (autoUpdate)
            StartUpdateCheck(1);
        TellAboutWideMachine();
    }

    if (log_.IsOpen())
        log_.WriteHeader(processorCount_);
    lastRowTick_ = TickCount64();
    SetTimer(window_, kRefreshTimer, kRefreshMs, nullptr);
    if (commandLine.Value("s") == 1)
        StartStopLoad(1);
    return kInitDone;
}

void MainDialog::SetUpControls() {
    SetIcons(IDI_TARVEX);
    caption_.Assign(module_.VersionCaption(kTitle, instance_));
    SetText(caption_.Text());

    list_.Attach(Item(IDC_PROCESSORS), instance_);
    // The check boxes choose the processors that Grab loads.
    list_.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_CHECKBOXES,
                           LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_CHECKBOXES);
    list_.AddIcon(IDI_PROCESSOR);
    for (int i = 0; i < static_cast<int>(sizeof kColumns / sizeof kColumns[0]); ++i)
        list_.InsertColumn(kColumns[i].header, i, kColumns[i].width, kColumns[i].autosize, LVCFMT_LEFT);

    slider_.Attach(Item(IDC_PERCENT_SLIDER), TrackbarControl::kClickToPosition);
    slider_.SetCallback(&MainDialog::PositionChanged, this);
    slider_.SetRange(0, 100);
    slider_.SetLineSize(5);
    slider_.SetPageSize(20);
    slider_.SetTickFrequency(10);

    link_.Attach(Item(IDC_LINK), kLinkText, kLinkAddress, IDC_LINKHAND, 0);

    anchors_.Attach(window_, kAnchors, static_cast<int>(sizeof kAnchors / sizeof kAnchors[0]));
    KeepSizeAsMinimum();
}

int MainDialog::ReportMistake(const CommandLine &commandLine, const TextString &problem) {
    if (!scripted_) {
        ShowUsage(commandLine, problem);
        return 1;
    }
    // Nobody is there to read a box: the script is told, and told by the exit code.
    WriteToStandardError(problem.Text());
    log_.WriteNote(problem.Text());
    EndRun(kExitMistake);
    return 0;
}

void MainDialog::ReadCommandLine(CommandLine &commandLine, TextString &problem) {
    commandLine.AddOption("s", SwitchOption, 0, "auto start the cpu grabbing");
    // The percentage travels through 32-bit controls: a longer number is refused like a misspelt option.
    commandLine.AddOption("u", NumberOption, 50, "set cpu grabbing percentage", CommandLine::Min32Bits,
                          CommandLine::Max32Bits);
    commandLine.AddTextOption("t", "", "N: stop grabbing after N seconds, Nm or Nh", LoadPlan::IsDuration);
    commandLine.AddOption("q", SwitchOption, 0, "quit when the timed grabbing has ended");
    commandLine.AddTextOption("p", "", "list: grab only these cpus, from 0: 0,2-3",
                              LoadPlan::IsProcessorList);
    commandLine.AddTextOption("l", "", "file: log every second of the run to this CSV file");
    const int parsed = commandLine.Parse();
    // Read before anything else: a scripted run never shows a box, its own mistakes included.
    scripted_ = commandLine.Value("q") == 1;
    if (!parsed)
        problem.Assign(commandLine.Problem());
    const char *logPath = commandLine.Text("l");
    if (logPath && *logPath) {
        TextString logProblem;
        if (!log_.Open(logPath, logProblem) && problem.Length() == 0)
            problem.Assign(&logProblem);
    }

    // The checks above let only well-formed values through.
    plan_.SetDuration(commandLine.Text("t"));
    plan_.SetProcessors(commandLine.Text("p"));
    // Closing after a load that never ends by itself would never happen.
    if (scripted_ && plan_.Seconds() == 0 && problem.Length() == 0)
        problem.Assign("Option \"-q\" needs a duration given with \"-t\".");

    // Clamped here rather than by the control, so that the label shows the percentage that will be loaded.
    int64_t percent = commandLine.Value("u");
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    slider_.SetPosition(static_cast<int>(percent), 1);
}

void MainDialog::ShowUsage(const CommandLine &commandLine, const TextString &problem) {
    TextString usage;
    commandLine.Usage(usage);
    usage.Insert(0, "Usage:\r\n");
    // The mistake first, so that the lines below do not read as a fixed example; the texts are shown as
    // typed, and a '%' among them must reach the box as it is.
    ShowMessage(0, kTitle, "%s\r\n\r\n%s", problem.Text(), usage.Text());
}

void MainDialog::TickPlannedProcessors(TextString &problem) {
    const uint32_t count = processorCount_;
    if (count > 0 && plan_.NamesNoneOf(count)) {
        if (problem.Length() == 0)
            problem.Format("Option \"-p\" names no processor of this machine, which has processors 0 to %u.",
                           count - 1);
        plan_.SetProcessors(nullptr);
    }
    for (ListEntry *entry = processors_.First(); entry; entry = processors_.Next(entry)) {
        auto *record = static_cast<ProcessorRecord *>(entry);
        list_.SetItemChecked(record->row, plan_.Includes(record->index) && CanLoad(*record));
    }
}

void MainDialog::TellAboutWideMachine() {
    // A 32-bit program names 32 processors of its own group at the most: on a bigger machine the rows of
    // the others show their usage but cannot be ticked, and the 64-bit program is the one that loads them
    // all. Said once per user.
    if (sizeof(void *) != 4 || !IsWow64())
        return;
    uint32_t loadable = 0;
    for (ListEntry *entry = processors_.First(); entry; entry = processors_.Next(entry))
        loadable += CanLoad(*static_cast<ProcessorRecord *>(entry));
    const uint32_t machine = ProcessorGroups::MachineProcessors();
    if (machine <= loadable || ReadDwordAt(HKEY_CURRENT_USER, kSettingsKey, kWideMachineNoticeValue, 0) == 1)
        return;
    ShowMessage(
        0, kTitle,
        "This machine has %u logical processors, but this 32-bit Tarvex.exe can load only %u of them: "
        "the rows of the others show their usage but cannot be ticked.\r\n\r\nTo load every "
        "processor, run Tarvex64.exe, the 64-bit Tarvex.",
        machine, loadable);
    WriteDwordAt(HKEY_CURRENT_USER, kSettingsKey, kWideMachineNoticeValue, 1);
}

void MainDialog::AddProcessors() {
    processorCount_ = ProcessorRecord::AppendProcessors(inventory_, processors_);
    for (ListEntry *entry = processors_.First(); entry; entry = processors_.Next(entry)) {
        auto *record = static_cast<ProcessorRecord *>(entry);
        TextString text;
        text.Format("#%u", record->index + 1);
        record->row = list_.InsertItem(text.Text(), 0, reinterpret_cast<LPARAM>(record), 0x7FFFFFFF);
        list_.SetItemText(record->name.Text(), 1, record->row);
        list_.SetItemText(record->vendor.Text(), 2, record->row);
        text.Format("%u Mhz", record->mhz);
        list_.SetItemText(text.Text(), 3, record->row);
    }
}

void MainDialog::StartUpdateCheck(int weekly) {
    TextString url;
    if (!ReadStringAt(HKEY_CURRENT_USER, kSettingsKey, kUpdateUrlValue, url) || url.Length() == 0)
        url.Assign(kUpdateUrl);
    if (weekly)
        updater_.StartCheck(url.Text(), window_, HKEY_CURRENT_USER, kSettingsKey, kLastCheckValue, 0, nullptr,
                            kItemType);
    else
        updater_.StartCheck(url.Text(), window_, nullptr, nullptr, nullptr, 0, nullptr, kItemType);
}

void MainDialog::DeleteRecords() {
    records_.Clear();
    processorCount_ = 0;
}

void MainDialog::StartStopLoad(int start) {
    // A press or a close that arrives while a stop pumps messages must not walk or change the records
    // the stop is still working through.
    if (stopping_)
        return;
    if (start)
        StartLoad();
    else
        StopLoad();
}

void MainDialog::StartLoad() {
    const int position = slider_.GetPosition();
    int started = 0;
    for (ListEntry *entry = processors_.First(); entry; entry = processors_.Next(entry)) {
        auto *record = static_cast<ProcessorRecord *>(entry);
        if (!list_.IsItemChecked(record->row) || !CanLoad(*record))
            continue;
        // A worker still running keeps running; Start refuses it.
        record->worker.Start(&LoadWorker, record, position);
        started = 1;
    }
    if (!started && processors_.First()) {
        if (scripted_) {
            // Nothing could be loaded as asked; a script learns it from the exit code.
            placeFailed_ = 1;
            EndRun(RunResult());
            return;
        }
        ShowMessage(0, kTitle, "No processor is ticked in the list: tick the processors to load, then Grab.");
        return;
    }
    MoveFocusOff(IDC_PERCENT_SLIDER, IDC_GRAB);
    SetItemText(IDC_GRAB, "Stop");
    EnableItem(IDC_PERCENT_SLIDER, 0);
    running_ = 1;
    loadStarted_ = 1;
    loadCompleted_ = 0;
    loadPercent_ = position;
    loadStart_ = TickCount64();
    loadEnd_ = plan_.Seconds() ? loadStart_ + static_cast<uint64_t>(plan_.Seconds()) * 1000 : 0;
    ArmEndTimer();
    ShowLoadTime();
}

void MainDialog::StopLoad() {
    stopping_ = 1;
    KillTimer(window_, kEndTimer);
    // Every worker hears its stop first, so that they all wind down together; a worker in a long busy
    // phase would otherwise hold back the stop of every processor after it.
    for (ListEntry *entry = processors_.First(); entry; entry = processors_.Next(entry))
        static_cast<ProcessorRecord *>(entry)->worker.RequestStop();
    for (ListEntry *entry = processors_.First(); entry; entry = processors_.Next(entry)) {
        auto *record = static_cast<ProcessorRecord *>(entry);
        // The wait keeps the window alive; a quit message ends it early, so wait again until the worker
        // is really gone.
        while (record->worker.Running() && !record->worker.Wait(INFINITE))
            Sleep(1);
    }
    // What came in during the stop is seen while stopping, also when every worker had ended before a wait
    // had anything to dispatch: a second press of Stop must not start the load again.
    DispatchPending();
    SetItemText(IDC_GRAB, "Grab");
    EnableItem(IDC_PERCENT_SLIDER, 1);
    running_ = 0;
    stopping_ = 0;
    loadEnd_ = 0;
    SetText(caption_.Text());

    if (closeDeferred_ && !closing_) {
        closeDeferred_ = 0;
        EndRun(deferredResult_);
    }
}

void MainDialog::MoveFocusOff(int id, int target) {
    if (window_ && GetFocus() == Item(id))
        SendMessageA(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(target)), TRUE);
}

void MainDialog::ArmEndTimer() {
    if (!loadEnd_)
        return;
    const uint64_t now = TickCount64();
    const uint64_t left = loadEnd_ > now ? loadEnd_ - now : 0;
    // A timer waits about 24 days at the most; a longer load is re-armed when it fires.
    SetTimer(window_, kEndTimer, static_cast<UINT>(left > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : left + 1),
             nullptr);
}

void MainDialog::EndTimedLoad() {
    if (!running_ || stopping_ || !loadEnd_)
        return;
    if (TickCount64() < loadEnd_) {
        ArmEndTimer();
        return;
    }
    // The workers say now whether they could be pinned; once stopped they are not asked again.
    for (ListEntry *entry = processors_.First(); entry; entry = processors_.Next(entry)) {
        auto *record = static_cast<ProcessorRecord *>(entry);
        if (record->worker.Running() && record->pinFailed.load())
            placeFailed_ = 1;
    }
    loadCompleted_ = 1;
    StartStopLoad(0);
    // Only a timed load ends here, and a scripted run always has one.
    if (scripted_)
        EndRun(RunResult());
}

void MainDialog::ShowLoadTime() {
    if (!running_)
        return;
    const uint64_t now = TickCount64();
    const uint64_t ran = (now - loadStart_) / 1000;
    TextString text;
    text.Format("%s - loading for %I64u:%02u:%02u", caption_.Text(), ran / 3600,
                static_cast<unsigned>(ran / 60 % 60), static_cast<unsigned>(ran % 60));
    if (loadEnd_) {
        // Rounded up, so that the last second still reads 0:00:01 rather than nothing left.
        const uint64_t left = loadEnd_ > now ? (loadEnd_ - now + 999) / 1000 : 0;
        TextString part;
        part.Format(", %I64u:%02u:%02u left", left / 3600, static_cast<unsigned>(left / 60 % 60),
                    static_cast<unsigned>(left % 60));
        text.Append(part);
    }
    SetText(text.Text());
}

void MainDialog::RefreshUsage() {
    clock_.Refresh(processorCount_);
    const uint64_t now = TickCount64();
    const uint64_t elapsed100ns = (now - lastRowTick_) * 10000;
    lastRowTick_ = now;
    std::vector<RunLog::Processor> row;
    TextString text;
    for (ListEntry *entry = processors_.First(); entry; entry = processors_.Next(entry)) {
        auto *record = static_cast<ProcessorRecord *>(entry);
        RunLog::Processor figures = {};
        figures.usage = record->sampler.Sample(record->index);
        figures.loaded = record->worker.Running();
        text.Format("%u %%", figures.usage);
        // A worker the system would not pin loads some other processor: this row's figure is not its load.
        if (figures.loaded && record->pinFailed.load())
            text.Append(" (not pinned)");
        list_.SetItemText(text.Text(), 4, record->row);
        clock_.Read(record->index, &figures.clock);
        ProcessorClock::Describe(figures.clock, text);
        list_.SetItemText(text.Text(), 5, record->row);
        if (!log_.IsOpen())
            continue;
        // The load thread's own share is a figure of the log only.
        const uint64_t cpu = figures.loaded ? record->worker.CpuTime() : 0;
        if (figures.loaded && cpu >= record->loggedCpuTime && elapsed100ns > 0) {
            const uint64_t share = (cpu - record->loggedCpuTime) * 100 / elapsed100ns;
            figures.ownShare = static_cast<uint32_t>(share > 100 ? 100 : share);
        }
        record->loggedCpuTime = cpu;
        row.push_back(figures);
    }
    if (log_.IsOpen()) {
        SYSTEMTIME local;
        GetLocalTime(&local);
        log_.WriteRow(local, (now - runStart_) / 1000, running_ ? static_cast<uint32_t>(loadPercent_) : 0,
                      row);
        if (log_.Failed())
            ShowLogFailure();
    }
}

void MainDialog::StoreSettings() {
    WriteDwordAt(HKEY_CURRENT_USER, kSettingsKey, kAutoUpdateValue, IsItemChecked(IDC_AUTOUPDATE) ? 1 : 0);
}

void MainDialog::ShowLogFailure() {
    // Said once, in the caption, which stays; the load goes on.
    caption_.Append(" - the log file could not be written");
    if (!running_)
        SetText(caption_.Text());
}

INT_PTR MainDialog::RunResult() const {
    if (!scripted_)
        return 0;
    if (placeFailed_)
        return kExitNotPlaced;
    if (!loadCompleted_)
        return loadStarted_ ? kExitStoppedEarly : kExitOther;
    if (log_.Failed())
        return kExitOther;
    return kExitCompleted;
}

void MainDialog::PositionChanged(int position, int, void *dialog) {
    TextString text;
    text.Format("%u %%", static_cast<unsigned>(position));
    static_cast<MainDialog *>(dialog)->SetItemText(IDC_PERCENT_LABEL, text.Text());
}

int MainDialog::OnCommand(int id, WPARAM wParam, LPARAM lParam) {
    switch (id) {
    case IDC_EXIT:
    case IDCANCEL:
        EndRun(RunResult());
        return 1;
    case IDC_GRAB:
        StartStopLoad(running_ ? 0 : 1);
        return 1;
    case IDC_AUTOUPDATE:
        // Ticking asks for a check at once and records nothing; the box itself is stored at close.
        if (IsItemChecked(IDC_AUTOUPDATE) && !scripted_)
            StartUpdateCheck(0);
        return 1;
    default:
        return DialogRunner::OnCommand(id, wParam, lParam);
    }
}

int MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kEndTimer) {
            // One shot: a system timer repeats, and an end that is not there yet is armed again for the
            // time left (a load longer than a timer can wait, or a message that came early).
            KillTimer(window_, kEndTimer);
            EndTimedLoad();
            return 1;
        }
        RefreshUsage();
        ShowLoadTime();
        return 1;
    case WM_NOTIFY: {
        const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
        if (header && header->idFrom == IDC_PROCESSORS && header->code == LVN_ITEMCHANGING)
            return OnListChanging(reinterpret_cast<const NMLISTVIEW *>(lParam));
        return DialogRunner::OnMessage(message, wParam, lParam);
    }
    case WM_HSCROLL:
        return slider_.HandleScroll(message, wParam, lParam);
    case WM_SIZE:
        return anchors_.OnSize(wParam);
    case WM_QUERYENDSESSION:
        // The session may end without another word to this window: the settings are stored now, and the
        // session is let go.
        StoreSettings();
        SetWindowLongPtrA(window_, DWLP_MSGRESULT, TRUE);
        return 1;
    case WM_ENDSESSION:
        // The process ends as soon as this returns: every worker is stopped and the window closed first.
        if (wParam)
            EndRun(RunResult());
        return 1;
    default:
        return DialogRunner::OnMessage(message, wParam, lParam);
    }
}

int MainDialog::OnListChanging(const NMLISTVIEW *change) {
    // The ticks say which processors a load takes: they change only while no load runs.
    const int tickChanges = (change->uChanged & LVIF_STATE) &&
                            ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK) &&
                            (change->uOldState & LVIS_STATEIMAGEMASK);
    if (!tickChanges)
        return 0;
    // A row whose processor this program cannot load cannot be ticked either.
    const int ticking = (change->uNewState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
    const ProcessorRecord *record = nullptr;
    for (ListEntry *entry = processors_.First(); entry && !record; entry = processors_.Next(entry)) {
        if (static_cast<ProcessorRecord *>(entry)->row == change->iItem)
            record = static_cast<ProcessorRecord *>(entry);
    }
    if (!(running_ || stopping_) && !(ticking && record && !CanLoad(*record)))
        return 0;
    SetWindowLongPtrA(window_, DWLP_MSGRESULT, TRUE);
    return 1;
}

int MainDialog::OnClose() {
    // The close box, Alt+F4, or another program asking (taskkill without /f): the same close as Exit.
    EndRun(RunResult());
    return 1;
}

int MainDialog::CanClose(INT_PTR result) {
    // A close that arrives while the close under way waits for its workers: that one finishes the job.
    if (closing_)
        return 0;
    // A close during a Stop: refused now, carried out by the stop once every worker has ended.
    if (stopping_) {
        closeDeferred_ = 1;
        deferredResult_ = result;
        return 0;
    }
    closing_ = 1;
    StoreSettings();
    KillTimer(window_, kRefreshTimer);
    KillTimer(window_, kEndTimer);
    StartStopLoad(0);
    DeleteRecords();
    return 1;
}
