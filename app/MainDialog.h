// MainDialog: the application object and its only window: the processor list with live usage, the
// percentage slider, Grab/Stop, the link and the automatic-update box.
//
// Classes: MainDialog.
#pragma once

#include "ui/DialogRunner.h"
#include "base/ModuleInfo.h"
#include "base/RecordList.h"
#include "base/TextString.h"
#include "load/LoadPlan.h"
#include "load/ProcessorClock.h"
#include "load/RunLog.h"
#include "load/UsageSampler.h"
#include "ui/ControlAnchors.h"
#include "ui/LinkControl.h"
#include "ui/ListViewControl.h"
#include "ui/TrackbarControl.h"
#include "update/UpdateClient.h"
#include <commctrl.h>
#include <cstdint>

class CommandLine;

class MainDialog : public DialogRunner {
public:
    // Configured values: the product title, the settings key, the maker's page and update query.
    static const char kTitle[];
    static const char kSettingsKey[];
    static const char kAutoUpdateValue[];
    // 1 once the 32-bit program has told this user that the machine has more processors than it can load.
    static const char kWideMachineNoticeValue[];
    static const char kLastCheckValue[];
    static const char kLinkAddress[];
    static const char kUpdateUrl[];
    // A string value under kSettingsKey that, when present and not empty, replaces kUpdateUrl (an update
    // mirror of one's own).
    static const char kUpdateUrlValue[];
    enum { kRefreshTimer = 1, kRefreshMs = 1000, kEndTimer = 2 };
    // How a scripted run (-q) ended, as its exit code; a run without -q ends with 0.
    enum : int {
        kExitCompleted = 0, // the timed load ran its full time on every chosen processor
        kExitOther = 1,     // anything else: no load was started, the log could not be written
        kExitMistake = 2,   // a mistake on the command line
        kExitNotPlaced = 3, // the load could not be placed as asked (a worker not pinned, nothing ticked)
        kExitStoppedEarly =
            4, // stopped before its time: Stop, Exit, Escape, the close box, the session's end
    };

    MainDialog() = default;
    ~MainDialog() override;

    int OnInitDialog() override;
    int CanClose(INT_PTR result) override;
    int OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    int OnClose() override;
    int OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // 1: start the worker of every ticked processor at the slider's percentage, for the duration of -t when
    // one was given; 0: ask every worker to stop, then wait for each.
    void StartStopLoad(int start);
    void RefreshUsage();
    static void PositionChanged(int position, int scrollCode, void *dialog);

    int Running() const { return running_; }
    int Stopping() const { return stopping_; }
    const UpdateClient &Updater() const { return updater_; }

private:
    // Reads the options into the slider, the plan and the switches; a mistake is described in problem.
    void ReadCommandLine(CommandLine &commandLine, TextString &problem);
    void ShowUsage(const CommandLine &commandLine, const TextString &problem);
    // The icons, caption, list columns, slider, link and anchors of a new window.
    void SetUpControls();
    // A mistake on the command line: the usage box for a person (1); in a scripted run standard error, the
    // log and exit code 2 instead (0: the run has ended).
    int ReportMistake(const CommandLine &commandLine, const TextString &problem);
    // The two halves of StartStopLoad.
    void StartLoad();
    void StopLoad();
    // Ticks the rows of the processors the plan includes; a mistake is described in problem.
    void TickPlannedProcessors(TextString &problem);
    void AddProcessors();
    // Moves the keyboard focus off a control about to be disabled: a disabled control keeps no focus, and
    // the keyboard would then reach nothing in the window.
    void MoveFocusOff(int id, int target);
    void ArmEndTimer();
    void EndTimedLoad();
    // The caption while loading: the time the load has run and, for a timed load, the time left.
    void ShowLoadTime();
    int OnListChanging(const NMLISTVIEW *change);
    void TellAboutWideMachine();
    void StartUpdateCheck(int weekly);
    void DeleteRecords();
    void ShowLogFailure();
    // The update box into the registry: at every close, and when the session is about to end.
    void StoreSettings();
    // The exit code of the run as it stands: see the kExit values.
    INT_PTR RunResult() const;

    ModuleInfo module_;
    RecordList processors_;
    OwnedEntries records_{processors_}; // every record of processors_
    uint32_t processorCount_ = 0;       // records in processors_, fixed once they are made
    UsageSampler inventory_;
    ListViewControl list_;
    TrackbarControl slider_;
    LinkControl link_;
    UpdateClient updater_;
    LoadPlan plan_;
    // -q was given (even with a mistake): a script runs Tarvex, nothing may wait for a person, and the window
    // closes once the timed load has run its time.
    int scripted_ = 0;
    int loadStarted_ = 0;
    int loadCompleted_ = 0; // a timed load ran its full time
    int placeFailed_ = 0;   // a worker could not be pinned, or nothing could be loaded
    int loadPercent_ = 0;
    RunLog log_;
    ProcessorClock clock_;
    uint64_t runStart_ = 0;    // TickCount64 at start
    uint64_t lastRowTick_ = 0; // TickCount64 at the last usage refresh
    TextString caption_;
    uint64_t loadStart_ = 0; // TickCount64 at the start of the load
    uint64_t loadEnd_ = 0;   // when a timed load ends; 0 for a load without a duration
    ControlAnchors anchors_;
    int running_ = 0;
    // Stopping waits for the workers while dispatching messages, which can re-enter the dialog: while it is
    // set, Grab/Stop is ignored and a close is put off until the stop has finished.
    int stopping_ = 0;
    int closing_ = 0;
    int closeDeferred_ = 0;
    INT_PTR deferredResult_ = 0;
};
